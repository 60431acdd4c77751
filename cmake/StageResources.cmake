# Copies the resources of the source tree into the build tree, where the editor
# bundle is added beside them, so that a program run uninstalled sees the same
# folder as an installed one. file(COPY) skips files whose time stamp matches.
# Run with -DSOURCE=<resources folder> -DDEST=<staged folder>.
file(COPY ${SOURCE}/ DESTINATION ${DEST}
  PATTERN node_modules EXCLUDE PATTERN package.json EXCLUDE PATTERN package-lock.json EXCLUDE
  PATTERN "*.sh" EXCLUDE PATTERN .gitignore EXCLUDE PATTERN tests EXCLUDE)

def orvel_import_project_media(pool, paths):
    """Imports `paths` into the Media Pool bin "Tessivo Exports" (created under
    the root when missing) and returns what Resolve returns. The folder that was
    current before is made current again in every case."""
    root = pool.GetRootFolder()
    folders = root.GetSubFolderList() if root else None
    if isinstance(folders, dict):
        folders = list(folders.values())
    target = None
    for folder in folders or []:
        try:
            if folder and folder.GetName() == "Tessivo Exports":
                target = folder
                break
        except Exception:
            continue
    previous = pool.GetCurrentFolder()
    try:
        if target is None and root:
            target = pool.AddSubFolder(root, "Tessivo Exports")
        if not target or not pool.SetCurrentFolder(target):
            raise RuntimeError("Resolve ne prépare pas le chutier local des exports.")
        return pool.ImportMedia(paths)
    finally:
        if previous:
            pool.SetCurrentFolder(previous)



#!/bin/sh
# Copies the typefaces the caption renderers use from node_modules into ttf/.
# Run `npm ci` in this folder first. Only the faces named below are shipped.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
src="$here/node_modules/@expo-google-fonts"
dest="$here/ttf"

faces="
anton/400Regular/Anton_400Regular.ttf
archivo-black/400Regular/ArchivoBlack_400Regular.ttf
bangers/400Regular/Bangers_400Regular.ttf
bebas-neue/400Regular/BebasNeue_400Regular.ttf
dm-serif-display/400Regular/DMSerifDisplay_400Regular.ttf
inter/700Bold/Inter_700Bold.ttf
montserrat/700Bold/Montserrat_700Bold.ttf
rubik-dirt/400Regular/RubikDirt_400Regular.ttf
rubik-spray-paint/400Regular/RubikSprayPaint_400Regular.ttf
space-mono/700Bold/SpaceMono_700Bold.ttf
teko/700Bold/Teko_700Bold.ttf
"

if [ ! -d "$src" ]; then
    echo "collect.sh: $src is missing; run 'npm ci' in $here first" >&2
    exit 1
fi
mkdir -p "$dest"
for face in $faces; do
    if [ ! -f "$src/$face" ]; then
        echo "collect.sh: missing $src/$face" >&2
        exit 1
    fi
    cp "$src/$face" "$dest/"
    # The fonts' licence (SIL OFL) travels with them.
    family=${face%%/*}
    if [ -f "$src/$family/LICENSE_FONT" ]; then
        cp "$src/$family/LICENSE_FONT" "$dest/LICENSE-$family.txt"
    fi
done
echo "collect.sh: $(echo $faces | wc -w) faces in $dest"

#!/usr/bin/env bash
# Builds, writes the demo sample data into a temporary support folder and
# takes screenshots of the main window on the offscreen platform:
# out/screenshots/overview-one-product.png, overview-several-products.png,
# overview-several-products-by-product.png, overview-account.png,
# overview-1200x730.png and overview-one-product-1200x730.png (the smallest
# window), iad-overview.png, and the printed overview on A4 and Letter paper in
# both orientations, print-overview-{a4,letter}-{portrait,landscape}.png (from
# the PDF files beside them, through pdftoppm); the financial statements
# (financial-reconciled-month.png, financial-waiting-for-payment.png,
# financial-japan-local-currency.png, financial-units.png, financial-1200x730.png) and their print
# (financial-print-*.pdf and .png); the lines of one financial report
# (financial-report-lines.png, financial-report-lines-1200x730.png) and the
# sheet of the payment received (financial-real-income-sheet.png).
# BUILD_DIR chooses the build folder (default: build).
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
cmake -S . -B "$BUILD_DIR" -G Ninja >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc)" --target vortely vortely-sample-data
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
XDG_CONFIG_HOME="$WORK/config" "./$BUILD_DIR/vortely-sample-data" --size demo --out "$WORK/support"
mkdir -p out/screenshots
# Private settings and support folder: the user's own are never touched.
QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$WORK/config" XDG_DATA_HOME="$WORK/data" \
  VORTELY_SUPPORT_FOLDER="$WORK/support" TZ="${TZ:-Europe/Paris}" LC_ALL="${SCREENSHOT_LOCALE:-en_US.UTF-8}" \
  "./$BUILD_DIR/vortely" --screenshot "$PWD/out/screenshots"
for pdf in out/screenshots/print-overview-*.pdf out/screenshots/financial-print-*.pdf; do
  pdftoppm -png -r 110 -singlefile "$pdf" "${pdf%.pdf}"
done
ls -1 out/screenshots/*.png

#!/usr/bin/env bash
# Regenerates every picture of docs/ into OUT_DIR, with docs/'s names and
# layout (give docs to replace the tracked pictures; review them with git diff):
#   screenshots.sh OUT_DIR [SECONDS]
#   OUT_DIR/screenshots/  the station against the simulated bus after SECONDS of
#                         polling (default 60): every page, the trend chart, the
#                         settings page with the port list open, the help window,
#                         the MQTT settings; the parameter grid; the history
#                         view on 30 days of simulated firing
#   OUT_DIR/widget_gallery.png, OUT_DIR/plot_example.png
# The pictures are drawn under Xvfb (or offscreen) with the fonts setup.sh installs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
if [ $# -lt 1 ]; then
    echo "usage: screenshots.sh OUT_DIR [SECONDS]   (OUT_DIR=docs replaces the tracked pictures)" >&2
    exit 2
fi
mkdir -p "$1/screenshots"
out="$(cd "$1" && pwd)"
seconds="${2:-60}"
"$root/scripts/setup.sh" dev
build="${BUILD_DIR:-$root/build}"
BUILD_TARGETS="station_shots history_shots widget_gallery widgets_tests station_core_tests" \
    "$root/scripts/build.sh" -DSTATION_TESTS=ON > /dev/null

screen=(xvfb-run -a -s "-screen 0 1280x900x24")
"${screen[@]}" "$build/tools/station_shots/station_shots" "$out/screenshots" "$seconds"
"${screen[@]}" "$build/tools/history_shots/history_shots" "$out/screenshots"
"${screen[@]}" "$build/tools/widget_gallery/widget_gallery" --screenshot "$out/widget_gallery.png"
# The two test pictures: the chart the plot tests draw and the scrolled
# parameter grid. The tests check them as they write them.
IPLOT_SAVE_PNG="$out/plot_example.png" QT_QPA_PLATFORM=offscreen \
    "$build/tests/widgets/widgets_tests" --gtest_filter=PlotRender.TrendChartShowsTitleTracesAndLegend > /dev/null
PARAM_GRID_PNG="$out/screenshots/param_grid.png" QT_QPA_PLATFORM=offscreen \
    "$build/tests/station/station_core_tests" --gtest_filter=ParamGridTest.RenderScrolledRight > /dev/null
echo "screenshots: pictures written to $out"

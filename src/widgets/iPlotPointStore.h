#pragma once
// Point storage of a plot channel and the drawing of its trace.
//
// A channel keeps every point for the life of the program, so a channel may
// hold millions of points. Points are stored as two doubles in fixed chunks of
// 4096 (no reallocation, no copy as the history grows), and a min/max pyramid
// is updated as each point is appended: level L holds the x and y bounds of
// every block of 16^L consecutive points. Levels 1..3 live inside each chunk,
// the levels above it in small vectors.
//
// Drawing walks the pyramid in point order: a block whose x bounds fall inside
// one pixel column is drawn as one vertical span (its points form a connected
// path inside that column, so the span is exactly what its segments cover), a
// block wholly left or right of the view is skipped, and only blocks that
// straddle a column boundary are opened. The cost of a redraw therefore grows
// with the width in pixels and the depth of the pyramid, not with the number
// of points. X may go backwards (the chart clock wraps): the path is followed
// in point order and cut into sweeps that each run in one direction; when the
// path turns round, the spans gathered so far are emitted and a new sweep
// starts, so pieces of the trace that share a column without touching are
// never joined.
#include <cstddef>
#include <memory>
#include <vector>

struct TiPlotBounds {
    double x_min, x_max, y_min, y_max;
};

class TiPlotPointStore {
public:
    TiPlotPointStore();
    ~TiPlotPointStore();
    TiPlotPointStore(const TiPlotPointStore&) = delete;
    TiPlotPointStore& operator=(const TiPlotPointStore&) = delete;

    void append(double x, double y);
    std::size_t size() const { return size_; }
    double x(std::size_t index) const;
    double y(std::size_t index) const;
    // The x and y arrays of one chunk (kChunkPoints entries, filled up to size()).
    const double* chunk_x(std::size_t chunk) const;
    const double* chunk_y(std::size_t chunk) const;

    // Bytes held for the points and the pyramid (chunks and vectors).
    std::size_t memory_bytes() const;

    // Pyramid access: level 0 is the points themselves; block b of level L
    // covers points [b * 16^L, (b + 1) * 16^L). top_level() has one block.
    int top_level() const;
    std::size_t block_count(int level) const;
    TiPlotBounds bounds(int level, std::size_t block) const;

    static constexpr int kFanBits = 4; // 16 children per block
    static constexpr int kChunkLevels = 3; // a chunk is one level-3 block
    static constexpr std::size_t kChunkPoints = std::size_t(1) << (kFanBits * kChunkLevels);

private:
    struct Chunk;
    std::vector<std::unique_ptr<Chunk>> chunks_;
    std::vector<std::vector<TiPlotBounds>> upper_; // levels 4, 5, ...
    std::size_t size_ = 0;
};

// Where a trace is drawn: the axis ranges and the size in pixels of the area.
// x = x_min maps to the centre of column 0, x = x_min + x_span to the centre of
// column width - 1; y = y_min + y_span to row 0, y = y_min to row height - 1.
struct TiPlotTraceView {
    double x_min = 0, x_span = 1, y_min = 0, y_span = 1;
    int width = 0, height = 0;
};

// One vertical run of pixels of a trace: column, first and last row (inclusive).
struct TiPlotSpan {
    int column, row_top, row_bottom;
};

// Appends to `out` the pixel spans that cover the polyline through the points,
// clipped to the view. Cost: about width x pyramid depth, independent of the
// number of visible points when x runs forward.
void render_trace(const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out);

// The same result computed segment by segment over every point, for checking
// and for tiny series; cost grows with the number of points.
void render_trace_every_segment(
    const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out);

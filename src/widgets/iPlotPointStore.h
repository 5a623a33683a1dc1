#pragma once
// Point storage of a plot channel and the drawing of its trace.
//
// A channel may hold millions of points. Points are stored in fixed chunks of
// 4096 (no reallocation, no copy as the history grows); the oldest span of
// history is a whole chunk at the front, so a channel that keeps only its
// recent history drops it whole (drop_front_chunks). A chunk holds
// its first x as a double and every point as two floats: x as the offset from
// that first x (time runs forward, so the offsets stay small and keep their
// fine digits however large x grows) and y itself (seven significant digits,
// far finer than a pixel). That is 8 bytes a point; the min/max pyramid adds
// about one more. DataX/DataY and the read-out give the stored values.
//
// The pyramid is updated as each point is appended: level L holds the x and y
// bounds of every block of 16^L consecutive points. Levels 1 and 2 live
// inside each chunk (as floats, relative like the points), the chunks' own
// bounds (level 3) and the levels above them in vectors of doubles.
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
#include <cstdint>
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

    // Stores (x, y) as described above: y beyond the float range is held as
    // the largest float of its sign; NaN stays NaN and is a break: the trace
    // is not drawn from the point before it to the point after it.
    void append(double x, double y);
    std::size_t size() const { return size_; }
    // The stored point (x to the float offset from its chunk's first x).
    double x(std::size_t index) const;
    double y(std::size_t index) const;
    // One chunk's first x and its x offsets and y values (kChunkPoints
    // entries, filled up to size()).
    double chunk_x_base(std::size_t chunk) const;
    const float* chunk_dx(std::size_t chunk) const;
    const float* chunk_y(std::size_t chunk) const;

    // Bytes held for the points and the pyramid (chunks and vectors).
    std::size_t memory_bytes() const;

    // Forgets the `count` oldest chunks (at most all but the newest); the
    // point that followed them becomes point 0. The chunks hold whole blocks
    // of every level below a chunk, so only the few levels above are rebuilt.
    void drop_front_chunks(std::size_t count);
    std::size_t chunk_count() const { return chunks_.size(); }

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
    std::vector<TiPlotBounds> chunk_bounds_; // level 3, one per chunk
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

// The mapping of x to pixel columns that render_trace uses, for code that
// reduces points to columns itself and must agree with it to the last bit.
class TiPlotColumns {
public:
    explicit TiPlotColumns(const TiPlotTraceView& view);
    bool usable() const;
    // Continuous pixel position: column c holds px in [c, c + 1).
    double px(double x) const { return (x - x_min_) * scale_ + 0.5; }
    // The column of x, clamped to -1 (left of the view, NaN too) .. width
    // (right of it).
    int column(double x) const { return column_of_px(px(x)); }
    int column_of_px(double px) const
    {
        if (!(px >= 0))
            return -1;
        if (px >= width_)
            return width_;
        return int(px);
    }
    int width() const { return width_; }

private:
    double x_min_, scale_;
    int width_;
    bool usable_;
};

// A short sequence of points with x held exactly (a double) and y as a
// store holds it (a float): the points a view takes from elsewhere, drawn by
// render_points. x is kept whole so that the same point lands in the same
// pixel column whichever store or sequence holds it.
class TiPlotPoints {
public:
    void append(double x, double y);
    std::size_t size() const { return x_.size(); }
    double x(std::size_t i) const { return x_[i]; }
    double y(std::size_t i) const { return double(y_[i]); }
    // The x and y ranges (infinite and empty for no point).
    TiPlotBounds bounds() const;
    // The point nearest to x (the last of equally near ones), or -1.
    std::ptrdiff_t nearest(double x) const;

private:
    std::vector<double> x_;
    std::vector<float> y_;
};

// Reduces a sequence of points in x order to at most four per pixel column
// of a view: the first, the lowest, the highest and the last, in an order
// whose trace covers exactly the pixels the whole sequence covers (inside a
// column every segment stays in it, so the column's rows are the points' y
// range; the segments between columns join the same points as before). A
// run of points already known to lie in one column may be given by its
// first and last point and its y range alone. Appends to `out`.
class TiPlotColumnReducer {
public:
    TiPlotColumnReducer(const TiPlotTraceView& view, TiPlotPoints& out);
    ~TiPlotColumnReducer() { finish(); }
    const TiPlotColumns& columns() const { return columns_; }
    void add_point(double x, double y) { add_run(x, y, x, y, y, y); }
    void add_run(double x_first, double y_first, double x_last, double y_last, double y_min, double y_max);
    // A break in the trace at x (a NaN point): no line joins across it.
    void add_break(double x);
    // Writes the last column's points (also done on destruction).
    void finish();

private:
    TiPlotColumns columns_;
    TiPlotPoints& out_;
    bool open_ = false;
    bool single_ = true;
    int column_ = 0;
    double x_first_ = 0, y_first_ = 0, x_last_ = 0, y_last_ = 0, y_min_ = 0, y_max_ = 0;
};

// One vertical run of pixels of a trace: column, first and last row (inclusive).
struct TiPlotSpan {
    int column, row_top, row_bottom;
};

// Appends to `out` the pixel spans that cover the polyline through the points,
// clipped to the view. Cost: about width x pyramid depth, independent of the
// number of visible points when x runs forward.
void render_trace(const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out);

// The pixel spans of a sequence of points, segment by segment.
void render_points(const TiPlotPoints& points, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out);

// The same result computed segment by segment over every point, for checking
// and for tiny series; cost grows with the number of points.
void render_trace_every_segment(
    const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out);

// The index of the point whose x lies nearest `x` (the newest of equally near
// ones), or -1 for an empty store or a NaN x. Searches the pyramid, pruning
// blocks whose x bounds are farther than the best point found: a few dozen
// blocks when x runs forward, whatever the number of points.
std::ptrdiff_t nearest_point(const TiPlotPointStore& store, double x);

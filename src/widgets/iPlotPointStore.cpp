#include "iPlotPointStore.h"

#include <algorithm>
#include <cfloat>
#include <cmath>

namespace {

constexpr int kFan = 1 << TiPlotPointStore::kFanBits;
constexpr std::size_t kChunkMask = TiPlotPointStore::kChunkPoints - 1;
constexpr std::size_t kLevel1PerChunk = TiPlotPointStore::kChunkPoints >> TiPlotPointStore::kFanBits;
constexpr std::size_t kLevel2PerChunk = TiPlotPointStore::kChunkPoints >> (2 * TiPlotPointStore::kFanBits);

// Bounds inside a chunk: x as offsets from the chunk's first x, y as stored.
struct ChunkBounds {
    float dx_min, dx_max, y_min, y_max;
};

// A NaN y is a break in the trace (the pen lifts): it has an x but adds no
// y to any bounds, so a block of breaks alone has an empty y range.
inline void init_bounds(ChunkBounds& b, float dx, float y)
{
    if (std::isnan(y))
        b = { dx, dx, HUGE_VALF, -HUGE_VALF };
    else
        b = { dx, dx, y, y };
}

inline void extend_bounds(ChunkBounds& b, float dx, float y)
{
    b.dx_min = std::min(b.dx_min, dx);
    b.dx_max = std::max(b.dx_max, dx);
    if (std::isnan(y))
        return;
    b.y_min = std::min(b.y_min, y);
    b.y_max = std::max(b.y_max, y);
}

inline void extend_bounds(TiPlotBounds& b, double x, double y)
{
    b.x_min = std::min(b.x_min, x);
    b.x_max = std::max(b.x_max, x);
    if (std::isnan(y))
        return;
    b.y_min = std::min(b.y_min, y);
    b.y_max = std::max(b.y_max, y);
}

inline TiPlotBounds first_bounds(double x, double y)
{
    return std::isnan(y) ? TiPlotBounds { x, x, HUGE_VAL, -HUGE_VAL } : TiPlotBounds { x, x, y, y };
}

inline TiPlotBounds merge(const TiPlotBounds& a, const TiPlotBounds& b)
{
    return { std::min(a.x_min, b.x_min), std::max(a.x_max, b.x_max), std::min(a.y_min, b.y_min),
        std::max(a.y_max, b.y_max) };
}

inline std::size_t level_shift(int level)
{
    return std::size_t(level) * TiPlotPointStore::kFanBits;
}

// A double as a float without leaving the float range (a conversion from
// outside it is undefined); NaN and the infinities pass unchanged.
inline float to_float(double v)
{
    if (std::isfinite(v))
        v = std::clamp(v, double(-FLT_MAX), double(FLT_MAX));
    return float(v);
}

} // namespace

// One chunk: its first x, the points and pyramid levels 1 and 2 over them
// (about 9.07 bytes a point). The chunk's own bounds (level 3) live in a
// vector beside the chunks: a full view of a long history visits every
// chunk's bounds, and reading them from one array instead of one cache line
// in each chunk keeps that walk as fast at 10 million points as at 1 million.
struct TiPlotPointStore::Chunk {
    double x_base;
    float dx[kChunkPoints];
    float y[kChunkPoints];
    ChunkBounds level1[kLevel1PerChunk];
    ChunkBounds level2[kLevel2PerChunk];

    TiPlotBounds absolute(const ChunkBounds& b) const
    {
        return { x_base + double(b.dx_min), x_base + double(b.dx_max), double(b.y_min), double(b.y_max) };
    }
};

TiPlotPointStore::TiPlotPointStore() = default;
TiPlotPointStore::~TiPlotPointStore() = default;

void TiPlotPointStore::append(double px, double py)
{
    const std::size_t i = size_;
    const std::size_t in_chunk = i & kChunkMask;
    if (in_chunk == 0) {
        chunks_.push_back(std::make_unique<Chunk>());
        chunks_.back()->x_base = std::isfinite(px) ? px : 0.0;
    }
    Chunk& c = *chunks_.back();
    const float dx = to_float(px - c.x_base);
    const float fy = to_float(py);
    c.dx[in_chunk] = dx;
    c.y[in_chunk] = fy;

    ChunkBounds& b1 = c.level1[in_chunk >> kFanBits];
    ChunkBounds& b2 = c.level2[in_chunk >> (2 * kFanBits)];
    if ((in_chunk & (kFan - 1)) == 0)
        init_bounds(b1, dx, fy);
    else
        extend_bounds(b1, dx, fy);
    if ((in_chunk & (kFan * kFan - 1)) == 0)
        init_bounds(b2, dx, fy);
    else
        extend_bounds(b2, dx, fy);
    size_ = i + 1;

    // The chunk's bounds and the levels above: they hold the stored values,
    // so every level agrees with x() and y(). Levels above a chunk exist
    // while the level below has more than one block; a new level starts as
    // the merge of the two blocks below it.
    const double sx = c.x_base + double(dx);
    const double sy = double(fy);
    if (in_chunk == 0)
        chunk_bounds_.push_back(first_bounds(sx, sy));
    else
        extend_bounds(chunk_bounds_.back(), sx, sy);
    for (int level = kChunkLevels + 1;; ++level) {
        const std::size_t below_blocks = block_count(level - 1);
        if (below_blocks <= 1)
            break;
        const std::size_t k = std::size_t(level - kChunkLevels - 1);
        if (k == upper_.size()) {
            upper_.emplace_back();
            upper_.back().push_back(merge(bounds(level - 1, 0), bounds(level - 1, 1)));
            continue;
        }
        std::vector<TiPlotBounds>& v = upper_[k];
        const std::size_t block = i >> level_shift(level);
        if (block == v.size())
            v.push_back(first_bounds(sx, sy));
        else
            extend_bounds(v[block], sx, sy);
    }
}

double TiPlotPointStore::x(std::size_t index) const
{
    const Chunk& c = *chunks_[index >> level_shift(kChunkLevels)];
    return c.x_base + double(c.dx[index & kChunkMask]);
}

double TiPlotPointStore::y(std::size_t index) const
{
    return double(chunks_[index >> level_shift(kChunkLevels)]->y[index & kChunkMask]);
}

double TiPlotPointStore::chunk_x_base(std::size_t chunk) const
{
    return chunks_[chunk]->x_base;
}

const float* TiPlotPointStore::chunk_dx(std::size_t chunk) const
{
    return chunks_[chunk]->dx;
}

const float* TiPlotPointStore::chunk_y(std::size_t chunk) const
{
    return chunks_[chunk]->y;
}

std::size_t TiPlotPointStore::memory_bytes() const
{
    std::size_t bytes = chunks_.capacity() * sizeof(chunks_[0]) + chunks_.size() * sizeof(Chunk);
    bytes += chunk_bounds_.capacity() * sizeof(TiPlotBounds);
    bytes += upper_.capacity() * sizeof(upper_[0]);
    for (const auto& v : upper_)
        bytes += v.capacity() * sizeof(TiPlotBounds);
    return bytes;
}

void TiPlotPointStore::drop_front_chunks(std::size_t count)
{
    count = std::min(count, chunks_.empty() ? 0 : chunks_.size() - 1);
    if (count == 0)
        return;
    // Every chunk but the newest is full.
    chunks_.erase(chunks_.begin(), chunks_.begin() + std::ptrdiff_t(count));
    chunk_bounds_.erase(chunk_bounds_.begin(), chunk_bounds_.begin() + std::ptrdiff_t(count));
    size_ -= count * kChunkPoints;
    // The levels above a chunk, again from the chunks' bounds: as append
    // builds them, one level more while the level below has several blocks.
    upper_.clear();
    for (int level = kChunkLevels + 1; block_count(level - 1) > 1; ++level) {
        const std::size_t below = block_count(level - 1);
        std::vector<TiPlotBounds> blocks;
        blocks.reserve((below + kFan - 1) / kFan);
        for (std::size_t b = 0; b < below; ++b) {
            const TiPlotBounds child = bounds(level - 1, b);
            if (b % kFan == 0)
                blocks.push_back(child);
            else
                blocks.back() = merge(blocks.back(), child);
        }
        upper_.push_back(std::move(blocks));
    }
}

int TiPlotPointStore::top_level() const
{
    return kChunkLevels + int(upper_.size());
}

std::size_t TiPlotPointStore::block_count(int level) const
{
    const std::size_t shift = level_shift(level);
    return (size_ + (std::size_t(1) << shift) - 1) >> shift;
}

TiPlotBounds TiPlotPointStore::bounds(int level, std::size_t block) const
{
    switch (level) {
    case 0: {
        const double px = x(block), py = y(block);
        return { px, px, py, py };
    }
    case 1: {
        const Chunk& c = *chunks_[block / kLevel1PerChunk];
        return c.absolute(c.level1[block % kLevel1PerChunk]);
    }
    case 2: {
        const Chunk& c = *chunks_[block / kLevel2PerChunk];
        return c.absolute(c.level2[block % kLevel2PerChunk]);
    }
    case 3:
        return chunk_bounds_[block];
    default:
        return upper_[std::size_t(level - kChunkLevels - 1)][block];
    }
}

namespace {

// Follows the polyline in point order and gathers, per pixel column, the rows
// the current sweep covers. Pixel coordinates are continuous: column c holds
// px in [c, c + 1), row r holds py in [r, r + 1).
class TraceRasterizer {
public:
    TraceRasterizer(const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out)
        : TraceRasterizer(view, out)
    {
        store_ = &store;
    }
    TraceRasterizer(const TiPlotPoints& points, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out)
        : TraceRasterizer(view, out)
    {
        points_ = &points;
    }

    bool usable() const { return columns_.usable() && view_.height > 0 && std::isfinite(y_scale_); }

    void walk_pyramid()
    {
        const int top = store_->top_level();
        for (std::size_t b = 0; b < store_->block_count(top); ++b)
            visit(top, b);
        flush();
    }

    void walk_every_point()
    {
        const std::size_t n = store_ ? store_->size() : points_->size();
        for (std::size_t i = 0; i < n; ++i)
            point(i);
        flush();
    }

private:
    TraceRasterizer(const TiPlotTraceView& view, std::vector<TiPlotSpan>& out)
        : view_(view)
        , out_(out)
        , columns_(view)
        , lo_(std::size_t(std::max(view.width, 0)), HUGE_VAL)
        , hi_(std::size_t(std::max(view.width, 0)), -HUGE_VAL)
    {
        y_scale_ = (view.height - 1) / view.y_span;
        y_top_ = view.y_min + view.y_span;
    }

    struct Pt {
        double px, py;
        int col;
    };

    double to_px(double x) const { return columns_.px(x); }
    double to_py(double y) const { return (y_top_ - y) * y_scale_ + 0.5; }
    int col(double px) const { return columns_.column_of_px(px); }
    Pt make(std::size_t i)
    {
        if (points_) {
            const double px = to_px(points_->x(i));
            return { px, to_py(points_->y(i)), col(px) };
        }
        const std::size_t chunk = i / TiPlotPointStore::kChunkPoints;
        if (chunk != chunk_) {
            chunk_ = chunk;
            chunk_base_ = store_->chunk_x_base(chunk);
            chunk_dx_ = store_->chunk_dx(chunk);
            chunk_y_ = store_->chunk_y(chunk);
        }
        const std::size_t k = i % TiPlotPointStore::kChunkPoints;
        const double px = to_px(chunk_base_ + double(chunk_dx_[k]));
        return { px, to_py(double(chunk_y_[k])), col(px) };
    }

    void visit(int level, std::size_t block)
    {
        const TiPlotBounds b = store_->bounds(level, block);
        const std::size_t shift = std::size_t(level) * TiPlotPointStore::kFanBits;
        const std::size_t first = block << shift;
        const std::size_t last = std::min(store_->size(), (block + 1) << shift) - 1;
        const int c0 = col(to_px(b.x_min));
        const int c1 = col(to_px(b.x_max));
        if (c0 == c1) {
            // The whole block lies in one column, or wholly off view (the
            // clamped column is then -1 or width): every segment inside it
            // stays there and together they cover the block's y range. The
            // segment entering the block needs drawing only when it comes
            // from another column; from the same column it joins two y values
            // the column's range already holds, so no point is read at all.
            if (!has_prev_ || prev_col_ != c0)
                point(first);
            if (c0 >= 0 && c0 < view_.width && b.y_min <= b.y_max)
                add_range(c0, to_py(b.y_max), to_py(b.y_min));
            prev_index_ = last;
            prev_col_ = c0;
            prev_known_ = false;
            // The pen rests on the block's last point, or is lifted when that
            // point is a break.
            has_prev_ = !std::isnan(store_->y(last));
            return;
        }
        if (level == 1) {
            for (std::size_t i = first; i <= last; ++i)
                point(i);
            return;
        }
        const std::size_t child_end
            = std::min(store_->block_count(level - 1), (block + 1) << TiPlotPointStore::kFanBits);
        for (std::size_t c = block << TiPlotPointStore::kFanBits; c < child_end; ++c)
            visit(level - 1, c);
    }

    void point(std::size_t i)
    {
        const Pt p = make(i);
        if (std::isnan(p.py)) {
            has_prev_ = false; // a break: the next point starts a new piece
            return;
        }
        if (has_prev_)
            segment(prev(), p);
        else if (p.col >= 0 && p.col < view_.width)
            add_range(p.col, p.py, p.py);
        prev_pt_ = p;
        prev_index_ = i;
        prev_col_ = p.col;
        prev_known_ = true;
        has_prev_ = true;
    }

    // The path's last point; after a one-column block only its index and
    // column are kept, and its coordinates are read when a segment needs them.
    const Pt& prev()
    {
        if (!prev_known_) {
            prev_pt_ = make(prev_index_);
            prev_known_ = true;
        }
        return prev_pt_;
    }

    void segment(const Pt& a, const Pt& b)
    {
        // A sweep runs in one direction, so each column it covers receives one
        // connected piece of the path. Turning round starts a new sweep: a
        // column the path comes back to may hold a piece it does not touch.
        if (a.col != b.col) {
            const int dir = b.col > a.col ? 1 : -1;
            if (sweep_dir_ != 0 && dir != sweep_dir_)
                flush();
            sweep_dir_ = dir;
        }
        if (a.col == b.col) {
            if (a.col >= 0 && a.col < view_.width)
                add_range(a.col, a.py, b.py);
            return;
        }
        const Pt& l = a.col < b.col ? a : b;
        const Pt& r = a.col < b.col ? b : a;
        if (r.col < 0 || l.col >= view_.width)
            return;
        const double dx = r.px - l.px;
        if (!std::isfinite(dx))
            return; // an x beyond what the view's scale can express
        const double slope = (r.py - l.py) / dx;
        const int c_end = std::min(r.col, view_.width - 1);
        for (int c = std::max(l.col, 0); c <= c_end; ++c) {
            const double xs = std::max(l.px, double(c));
            const double xe = std::min(r.px, double(c + 1));
            add_range(c, l.py + (xs - l.px) * slope, l.py + (xe - l.px) * slope);
        }
    }

    void add_range(int c, double y0, double y1)
    {
        const std::size_t k = std::size_t(c);
        lo_[k] = std::min({ lo_[k], y0, y1 });
        hi_[k] = std::max({ hi_[k], y0, y1 });
        touched_min_ = std::min(touched_min_, c);
        touched_max_ = std::max(touched_max_, c);
    }

    void flush()
    {
        for (int c = touched_min_; c <= touched_max_; ++c) {
            const std::size_t k = std::size_t(c);
            if (lo_[k] <= hi_[k] && hi_[k] >= 0 && lo_[k] < view_.height) {
                const int top = lo_[k] < 0 ? 0 : int(lo_[k]);
                const int bottom = hi_[k] >= view_.height ? view_.height - 1 : int(hi_[k]);
                out_.push_back({ c, top, bottom });
            }
            lo_[k] = HUGE_VAL;
            hi_[k] = -HUGE_VAL;
        }
        touched_min_ = view_.width;
        touched_max_ = -1;
    }

    const TiPlotPointStore* store_ = nullptr;
    const TiPlotPoints* points_ = nullptr;
    const TiPlotTraceView& view_;
    std::vector<TiPlotSpan>& out_;
    TiPlotColumns columns_;
    std::vector<double> lo_, hi_;
    double y_scale_ = 0, y_top_ = 0;
    int touched_min_ = view_.width, touched_max_ = -1;
    std::size_t chunk_ = std::size_t(-1);
    double chunk_base_ = 0;
    const float* chunk_dx_ = nullptr;
    const float* chunk_y_ = nullptr;
    Pt prev_pt_ {};
    std::size_t prev_index_ = 0;
    int prev_col_ = 0;
    bool prev_known_ = false;
    bool has_prev_ = false;
    int sweep_dir_ = 0;
};

} // namespace

TiPlotColumns::TiPlotColumns(const TiPlotTraceView& view)
    : x_min_(view.x_min)
    , scale_((view.width - 1) / view.x_span)
    , width_(view.width)
    , usable_(view.width > 0 && std::isfinite(scale_))
{
}

bool TiPlotColumns::usable() const
{
    return usable_;
}

void TiPlotPoints::append(double x, double y)
{
    x_.push_back(x);
    y_.push_back(to_float(y));
}

TiPlotBounds TiPlotPoints::bounds() const
{
    TiPlotBounds b { HUGE_VAL, -HUGE_VAL, HUGE_VAL, -HUGE_VAL };
    for (std::size_t i = 0; i < size(); ++i)
        extend_bounds(b, x(i), y(i));
    return b;
}

std::ptrdiff_t TiPlotPoints::nearest(double x) const
{
    std::ptrdiff_t best = -1;
    double gap = HUGE_VAL;
    for (std::size_t i = 0; i < size(); ++i)
        if (std::abs(x_[i] - x) <= gap) {
            gap = std::abs(x_[i] - x);
            best = std::ptrdiff_t(i);
        }
    return best;
}

TiPlotColumnReducer::TiPlotColumnReducer(const TiPlotTraceView& view, TiPlotPoints& out)
    : columns_(view)
    , out_(out)
{
}

void TiPlotColumnReducer::add_run(
    double x_first, double y_first, double x_last, double y_last, double y_min, double y_max)
{
    const int column = columns_.column(x_first);
    if (open_ && column == column_) {
        x_last_ = x_last;
        y_last_ = y_last;
        y_min_ = std::min(y_min_, y_min);
        y_max_ = std::max(y_max_, y_max);
        single_ = false;
        return;
    }
    finish();
    open_ = true;
    column_ = column;
    single_ = x_first == x_last && y_first == y_last && y_min == y_max;
    x_first_ = x_first;
    y_first_ = y_first;
    x_last_ = x_last;
    y_last_ = y_last;
    y_min_ = y_min;
    y_max_ = y_max;
}

void TiPlotColumnReducer::add_break(double x)
{
    finish();
    out_.append(x, std::nan(""));
}

void TiPlotColumnReducer::finish()
{
    if (!open_)
        return;
    open_ = false;
    out_.append(x_first_, y_first_);
    if (single_)
        return;
    // The extremes at the first point's x: the path first, lowest, highest,
    // last stays in the column and spans its y range.
    out_.append(x_first_, y_min_);
    out_.append(x_first_, y_max_);
    out_.append(x_last_, y_last_);
}

void render_trace(const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out)
{
    if (store.size() == 0)
        return;
    TraceRasterizer r(store, view, out);
    if (r.usable())
        r.walk_pyramid();
}

void render_points(const TiPlotPoints& points, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out)
{
    if (points.size() == 0)
        return;
    TraceRasterizer r(points, view, out);
    if (r.usable())
        r.walk_every_point();
}

void render_trace_every_segment(
    const TiPlotPointStore& store, const TiPlotTraceView& view, std::vector<TiPlotSpan>& out)
{
    if (store.size() == 0)
        return;
    TraceRasterizer r(store, view, out);
    if (r.usable())
        r.walk_every_point();
}

namespace {

// Branch and bound over the pyramid, newest blocks first.
void nearest_in(const TiPlotPointStore& store, int level, std::size_t block, double x, double& best,
    std::ptrdiff_t& best_index)
{
    const TiPlotBounds b = store.bounds(level, block);
    const double gap = x < b.x_min ? b.x_min - x : (x > b.x_max ? x - b.x_max : 0.0);
    if (!(gap < best))
        return; // farther than the best (or NaN bounds: nothing to find there)
    if (level == 0) {
        best = gap;
        best_index = std::ptrdiff_t(block);
        return;
    }
    const std::size_t first = block << TiPlotPointStore::kFanBits;
    const std::size_t end
        = std::min(store.block_count(level - 1), first + (std::size_t(1) << TiPlotPointStore::kFanBits));
    for (std::size_t c = end; c-- > first;)
        nearest_in(store, level - 1, c, x, best, best_index);
}

} // namespace

std::ptrdiff_t nearest_point(const TiPlotPointStore& store, double x)
{
    if (store.size() == 0 || std::isnan(x))
        return -1;
    double best = HUGE_VAL;
    std::ptrdiff_t best_index = -1;
    const int top = store.top_level();
    for (std::size_t b = store.block_count(top); b-- > 0;)
        nearest_in(store, top, b, x, best, best_index);
    return best_index;
}

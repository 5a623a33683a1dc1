// Costs of the parameter grid at its largest (90 value columns): a run that
// sets every value cell, and the read-all run's one-row scroll per reply with
// the painting of the view it causes.
#include "param_grid.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <memory>
#include <numeric>
#include <vector>

namespace {

std::unique_ptr<TStringGrid> make_full_grid()
{
    std::unique_ptr<TStringGrid> grid(create_param_grid(nullptr));
    strgrid_init(*grid);
    std::vector<int> addresses(90);
    std::iota(addresses.begin(), addresses.end(), 0);
    layout_value_columns(*grid, addresses);
    grid->resize(1000, 700);
    grid->show();
    QApplication::processEvents();
    return grid;
}

void BM_SetEveryValueCell(benchmark::State& state)
{
    auto grid = make_full_grid();
    int round = 0;
    for (auto _ : state) {
        const QString text = QString::number(++round);
        for (int col = 2; col < grid->ColCount(); ++col)
            for (int row = 1; row < grid->RowCount(); ++row)
                grid->setCells(col, row, text);
        QApplication::processEvents(); // the coalesced repaint
    }
    state.SetItemsProcessed(state.iterations() * 90 * 411);
}
BENCHMARK(BM_SetEveryValueCell)->Unit(benchmark::kMillisecond);

void BM_ScrollOneRowAndPaint(benchmark::State& state)
{
    auto grid = make_full_grid();
    grid->setLeftCol(40);
    int row = 1;
    for (auto _ : state) {
        row = row >= 380 ? 1 : row + 1;
        grid->setTopRow(row);
        benchmark::DoNotOptimize(grid->viewport()->grab()); // paints the view into a pixmap
    }
}
BENCHMARK(BM_ScrollOneRowAndPaint)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

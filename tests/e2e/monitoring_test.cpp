#include "e2e_fixture.h"

#include "iTimers.h"
#include "ttimer.h"

#include <QCheckBox>

// A first whole-station run: the scan finds the simulated addresses.
TEST_F(StationE2E, ScanFindsTheSimulatedInstruments)
{
    start({1, 2, 3, 5});
    form->Button_scanClick(nullptr);
    ASSERT_TRUE(wait_for([&] { return !scan_active; }, 15000));
    std::vector<int> found;
    for (int a = 0; a < 90; ++a)
        if (form->addr_check[static_cast<size_t>(a)]->isChecked())
            found.push_back(a);
    EXPECT_EQ(found, (std::vector<int>{1, 2, 3, 5}));
    EXPECT_EQ(inst_count, 4);
    EXPECT_TRUE(errors.isEmpty()) << errors.join(QLatin1Char('\n')).toStdString();
}

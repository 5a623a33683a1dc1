#include "station_settings.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

TEST(StationSettings, DefaultsThenEveryChangeIsOnDiskAtOnce)
{
    QTemporaryDir dir;
    {
        StationSettings s(dir.path());
        EXPECT_TRUE(s.resume());
        EXPECT_TRUE(s.addresses().empty());
        EXPECT_EQ(s.decimal_places(3), -1);
        s.set_addresses({ 1, 2, 5 });
        s.set_decimal_places(3, 3);
        s.set_resume(false);
        // Written now, not when the object goes: a power cut keeps them.
        StationSettings other(dir.path());
        EXPECT_EQ(other.addresses(), (std::vector<int> { 1, 2, 5 }));
        EXPECT_EQ(other.decimal_places(3), 3);
        EXPECT_FALSE(other.resume());
    }
    for (const std::vector<int>& list : { std::vector<int> { 7 }, std::vector<int> {} }) {
        StationSettings s(dir.path());
        s.set_addresses(list);
        EXPECT_EQ(StationSettings(dir.path()).addresses(), list);
    }
}

// A file edited by hand: what is no address is left out, the rest sorted.
TEST(StationSettings, AddressesThatAreNoAddressesAreLeftOut)
{
    QTemporaryDir dir;
    QFile file(dir.filePath(kStationSettingsFileName));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[resume]\nenabled=false\naddresses=12, x, 3, 91, -1, 3, 0\n[decimals]\n3=9\n4=2\n");
    file.close();
    StationSettings s(dir.path());
    EXPECT_FALSE(s.resume());
    EXPECT_EQ(s.addresses(), (std::vector<int> { 0, 3, 12 }));
    EXPECT_EQ(s.decimal_places(3), -1);
    EXPECT_EQ(s.decimal_places(4), 2);
}

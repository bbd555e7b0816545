// What pealix-house makes of house descriptions, good and bad: a bad one is
// refused before anything starts, with one line that names the problem.
#include "house/HouseRun.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace pealix::test;
using namespace Qt::StringLiterals;

namespace {

struct Checked
{
    int exitCode = -1;
    QString out, errors;
};

Checked check(const QString &path)
{
    QProcess house;
    house.start(houseProgram(), {path, u"--check"_s});
    house.waitForFinished(30000);
    return {house.exitCode(), QString::fromUtf8(house.readAllStandardOutput()),
            QString::fromUtf8(house.readAllStandardError())};
}

} // namespace

TEST(HouseDescriptionTest, TheHousesThatComeWithPealixAreHouses)
{
    const std::pair<const char *, const char *> rows[] = {
        {"demo.json", "a house of 3 Sonos players and 2 Cast devices"},
        {"faulty.json", "a house of 6 Sonos players and 4 Cast devices"}};
    for (const auto &[file, summary] : rows) {
        const Checked checked = check(houseFile(QLatin1String(file)));
        EXPECT_EQ(checked.exitCode, 0) << file << checked.errors.toStdString();
        EXPECT_TRUE(checked.out.contains(QLatin1String(summary))) << checked.out.toStdString();
    }
}

TEST(HouseDescriptionTest, ABadDescriptionIsRefusedWithOneLineNamingTheProblem)
{
    const QString kitchen = uR"({"name": "Kitchen", "kind": "sonos", "plays": "queue", "track": 2})"_s;
    const QString tv = uR"({"name": "TV", "kind": "cast"})"_s;
    const struct
    {
        const char *situation;
        QString json;
        const char *problem;
    } rows[] = {
        {"an unknown fault", uR"({"rooms": [{"name": "TV", "kind": "cast", "fault": "explodes"}]})"_s,
         R"(room "TV": unknown fault "explodes")"},
        {"a Cast fault on a Sonos player",
         uR"({"rooms": [{"name": "Den", "kind": "sonos", "fault": "never launches"}]})"_s,
         R"(room "Den": "never launches" is a fault of Cast devices)"},
        {"two rooms with one address",
         uR"({"rooms": [{"name": "Kitchen", "kind": "sonos", "address": "10.77.0.30"},
                        {"name": "TV", "kind": "cast", "address": "10.77.0.30"}]})"_s,
         R"(rooms "Kitchen" and "TV" both have the address 10.77.0.30)"},
        {"a room on the address of Pealix's side",
         uR"({"rooms": [{"name": "TV", "kind": "cast", "address": "10.77.0.10"}]})"_s,
         R"(room "TV": address 10.77.0.10 belongs to the computer that runs Pealix)"},
        {"an address outside the house",
         uR"({"rooms": [{"name": "TV", "kind": "cast", "address": "192.168.1.20"}]})"_s,
         R"(room "TV": address 192.168.1.20 is not a host of the house network 10.77.0.0/24)"},
        {"a group whose coordinator is missing",
         uR"({"rooms": [%1], "groups": [{"coordinator": "Garage", "members": ["Kitchen"]}]})"_s.arg(kitchen),
         R"(group of "Garage": the coordinator "Garage" is not a room of the house)"},
        {"a group with a Cast member",
         uR"({"rooms": [%1, %2], "groups": [{"coordinator": "Kitchen", "members": ["TV"]}]})"_s.arg(kitchen,
                                                                                                    tv),
         R"(group of "Kitchen": the member "TV" is not a Sonos player)"},
        {"a member that says what it plays",
         uR"({"rooms": [%1, {"name": "Den", "kind": "sonos", "plays": "radio"}],
              "groups": [{"coordinator": "Kitchen", "members": ["Den"]}]})"_s.arg(kitchen),
         R"(the member "Den" plays what "Kitchen" plays)"},
        {"two rooms with one name", uR"({"rooms": [%1, %1]})"_s.arg(tv), R"(two rooms are named "TV")"},
        {"a misspelt key", uR"({"rooms": [{"name": "Den", "kind": "sonos", "volumne": 3}]})"_s,
         R"(room "Den": unknown key "volumne")"},
        {"a volume beyond 100", uR"({"rooms": [{"name": "Den", "kind": "sonos", "volume": 101}]})"_s,
         R"(room "Den": "volume" must be a whole number from 0 to 100)"},
        {"a kind that is neither", uR"({"rooms": [{"name": "Den", "kind": "airplay"}]})"_s,
         R"(room "Den": "kind" must be "sonos", "cast" or "stranger", not "airplay")"},
        {"no rooms", uR"({"rooms": []})"_s, "a house needs \"rooms\""},
        {"groups that are no list",
         uR"({"rooms": [%1], "groups": {"coordinator": "Kitchen"}})"_s.arg(kitchen),
         R"("groups" must be a list of groups)"},
        {"not JSON", u"{\"rooms\": [ "_s, "not JSON: "},
    };
    QTemporaryDir dir;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.situation);
        const QString path = dir.filePath(u"house.json"_s);
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(row.json.toUtf8());
        file.close();
        const Checked checked = check(path);
        EXPECT_EQ(checked.exitCode, 2);
        EXPECT_EQ(checked.errors.count(u'\n'), 1) << checked.errors.toStdString();
        EXPECT_TRUE(checked.errors.startsWith(u"pealix-house: "_s + path + u": "_s))
            << checked.errors.toStdString();
        EXPECT_TRUE(checked.errors.contains(QString::fromUtf8(row.problem))) << checked.errors.toStdString();
    }
}

// tsdbctl driven as a user drives it, in a directory of the test's own.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>

#include "tests/support/command.h"
#include "tsdb/file/database.h"

namespace {

using testing_support::CommandOutcome;

// A parsed JSON value: just enough to read back what tsdbctl writes.
struct JsonValue {
    bool is_null = false;
    double number = 0;
    std::string text;
    std::vector<JsonValue> items;
    std::map<std::string, JsonValue> fields;
};

class JsonReader {
public:
    explicit JsonReader(const std::string& text) : s_(text) {}
    JsonValue document() {
        JsonValue v = value();
        blanks();
        EXPECT_EQ(at_, s_.size()) << "text after the JSON value";
        return v;
    }

private:
    void blanks() {
        while (at_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[at_]))) {
            ++at_;
        }
    }
    bool take(char c) {
        blanks();
        if (at_ < s_.size() && s_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    std::string string() {
        EXPECT_TRUE(take('"'));
        std::string out;
        while (at_ < s_.size() && s_[at_] != '"') {
            if (s_[at_] == '\\') {
                ++at_;
            }
            out += s_[at_++];
        }
        ++at_;
        return out;
    }
    JsonValue value() {
        JsonValue v;
        blanks();
        if (take('[')) {
            while (!take(']')) {
                v.items.push_back(value());
                take(',');
            }
        } else if (take('{')) {
            while (!take('}')) {
                const std::string key = string();
                EXPECT_TRUE(take(':'));
                v.fields[key] = value();
                take(',');
            }
        } else if (s_[at_] == '"') {
            v.text = string();
        } else if (s_.compare(at_, 4, "null") == 0) {
            v.is_null = true;
            at_ += 4;
        } else {
            size_t used = 0;
            v.number = std::stod(s_.substr(at_), &used);
            at_ += used;
        }
        return v;
    }

    const std::string& s_;
    size_t at_ = 0;
};

// Whether the text is well-formed XML as tsdbctl writes it: balanced tags,
// quoted attributes; the number of points of its polylines.
size_t checked_svg_points(const std::string& svg) {
    std::vector<std::string> open;
    size_t points = 0;
    for (size_t at = svg.find('<'); at != std::string::npos; at = svg.find('<', at + 1)) {
        const size_t end = svg.find('>', at);
        EXPECT_NE(end, std::string::npos);
        const std::string tag = svg.substr(at + 1, end - at - 1);
        if (tag.starts_with("?")) {
            continue;
        }
        if (tag.starts_with("/")) {
            EXPECT_FALSE(open.empty());
            EXPECT_EQ(open.back(), tag.substr(1));
            open.pop_back();
            continue;
        }
        EXPECT_EQ(std::count(tag.begin(), tag.end(), '"') % 2, 0) << tag;
        const std::string name = tag.substr(0, tag.find_first_of(" /"));
        if (name == "polyline") {
            const size_t p = tag.find("points=\"") + 8;
            const std::string list = tag.substr(p, tag.find('"', p) - p);
            points += static_cast<size_t>(std::count(list.begin(), list.end(), ','));
        }
        if (!tag.ends_with("/")) {
            open.push_back(name);
        }
    }
    EXPECT_TRUE(open.empty());
    return points;
}

size_t occurrences(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1)) {
        ++n;
    }
    return n;
}

class Tsdbctl : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = testing::UnitTest::GetInstance()->current_test_info();
        dir = testing::TempDir() + "tsdbctl-" + test->name() + "-" + std::to_string(getpid());
        mkdir(dir.c_str(), 0700);
        db = dir + "/db.tsdb";
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    CommandOutcome ctl(const std::string& args) {
        return testing_support::run_command(std::string(TSDBCTL) + " " + args);
    }
    // Standard output only.
    std::string out(const std::string& args) {
        const CommandOutcome r = testing_support::run_command("{ " + std::string(TSDBCTL) + " " +
                                                              args + " 2>/dev/null; }");
        EXPECT_EQ(r.status, 0) << args << "\n" << r.output;
        return r.output;
    }
    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(dir + "/" + name) << text;
        return dir + "/" + name;
    }
    void init() { out("init " + db + " --size 8M"); }

    std::string dir;
    std::string db;
};

const char* const continuous_series = "--type continuous --level 1m:1440 --level 1h:100";

}  // namespace

TEST_F(Tsdbctl, EveryVerbHelpsAndMistakesOnTheCommandLineExitWithTwo) {
    for (const char* verb : {"init", "create", "describe", "delete", "list", "put", "get", "last",
                             "truncate", "oldest", "checksum", "extract", "merge", "metrics",
                             "graph", "load", "shell", "export", "serve"}) {
        const CommandOutcome help = ctl(std::string(verb) + " --help");
        EXPECT_EQ(help.status, 0) << verb;
        EXPECT_NE(help.output.find("Usage: tsdbctl " + std::string(verb)), std::string::npos)
            << help.output;
    }
    // Every help says the defaults.
    EXPECT_NE(ctl("graph --help").output.find("--points N=400"), std::string::npos);
    EXPECT_EQ(ctl("").status, 2);
    const CommandOutcome unknown = ctl("frobnicate " + db);
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.output.rfind("tsdbctl: unknown verb \"frobnicate\"", 0), 0u);
    init();
    EXPECT_EQ(ctl("create " + db + " --type sometimes --level 1m:10")
                  .output.rfind("tsdbctl create: unknown type \"sometimes\"", 0),
              0u);
    EXPECT_EQ(ctl("create " + db + " --type enum --level 60").status, 2);
    const CommandOutcome reversed =
        ctl("create " + db + " --type enum --level 1h:10 --level 1m:10");
    EXPECT_EQ(reversed.status, 2);
    EXPECT_EQ(reversed.output.rfind("tsdbctl create: levels go from the finest to the coarsest: "
                                    "level 2 (10 x 60 s) is not coarser than level 1 (10 x 3600 s)",
                                    0),
              0u)
        << reversed.output;
    EXPECT_EQ(ctl("create " + db + " --type enum --level 1m:10 --level 60:20").status, 2);
    EXPECT_EQ(ctl("create " + db + " --type enum --level 1m:10").output,
              "0\nseries 0: 1 levels, room for 204 records (4080 bytes)\n");
    EXPECT_EQ(ctl("get " + db).status, 2);
    const CommandOutcome bad_time = ctl("get " + db + " 0 --from yesterday");
    EXPECT_EQ(bad_time.status, 2);
    EXPECT_EQ(bad_time.output.rfind("tsdbctl get: cannot read the time \"yesterday\"", 0), 0u);
    EXPECT_EQ(
        ctl("get " + db + " 0 --colour red")
            .output.rfind("tsdbctl get: The following argument was not expected: --colour", 0),
        0u);
    // Options anywhere, -v after the verb, and --name=value.
    EXPECT_EQ(ctl("get --from=-6h " + db + " -v 0 --format=csv").status, 0);
}

TEST_F(Tsdbctl, SeriesAreCreatedListedDescribedAndDeleted) {
    const CommandOutcome missing = ctl("list " + db);
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output.rfind("tsdbctl list: cannot open " + db + ": Unable to open", 0), 0u)
        << missing.output;
    init();
    EXPECT_EQ(ctl("init " + db).status, 1);  // exists already
    EXPECT_EQ(out("create " + db + " " + continuous_series), "0\n");
    EXPECT_EQ(out("create " + db + " --type incident --level 1:65536"), "1\n");
    EXPECT_EQ(out("list " + db),
              "id      layout\n"
              "0       continuous, 1609 x 60 s, 146 x 3600 s\n"
              "1       incident, 69632 x 1 s\n");
    EXPECT_NE(out("describe " + db + " 0").find("1       146 x 3600 s            -"),
              std::string::npos);
    // The same in JSON, for scripts.
    const JsonValue listed = JsonReader(out("list " + db + " --format json")).document();
    ASSERT_EQ(listed.items.size(), 2u);
    EXPECT_EQ(listed.items[0].fields.at("levels").items[1].fields.at("resolution").number, 3600);
    EXPECT_EQ(listed.items[1].fields.at("type").text, "incident");
    const JsonValue described = JsonReader(out("describe " + db + " 0 --format json")).document();
    EXPECT_EQ(described.fields.at("stored").items[0].fields.at("records").number, 0);
    EXPECT_TRUE(described.fields.at("stored").items[0].fields.at("from").is_null);
    EXPECT_TRUE(JsonReader(out("oldest " + db + " 0 --format json"))
                    .document()
                    .fields.at("oldest")
                    .is_null);
    EXPECT_EQ(JsonReader(out("checksum " + db + " 0 --format json"))
                  .document()
                  .fields.at("checksum")
                  .text.size(),
              16u);
    EXPECT_EQ(ctl("list " + db + " --format csv").status, 2);
    EXPECT_EQ(out("delete " + db + " 0"), "deleted series 0 and its 0 records\n");
    EXPECT_EQ(ctl("delete " + db + " 0").output,
              "tsdbctl delete: series 0 does not exist (tsdbctl list shows those that do)\n");
    const CommandOutcome gone = ctl("describe " + db + " 0");
    EXPECT_EQ(gone.status, 1);
    EXPECT_EQ(gone.output,
              "tsdbctl describe: series 0 does not exist (tsdbctl list shows those that do)\n");
    EXPECT_EQ(out("list " + db), "id      layout\n1       incident, 69632 x 1 s\n");
    // Bare answers stay bare for scripts and say what they are on a terminal.
    EXPECT_EQ(out("checksum " + db + " 1").size(), 17u);
    const CommandOutcome on_terminal = testing_support::run_command(
        "script -qec '" + std::string(TSDBCTL) + " checksum " + db + " 1' /dev/null");
    EXPECT_NE(on_terminal.output.find("checksum of series 1: "), std::string::npos)
        << on_terminal.output;
    const CommandOutcome full = testing_support::run_command(
        "{ " + std::string(TSDBCTL) + " list " + db + " > /dev/full; } 2>&1");
    EXPECT_EQ(full.status, 1);
    EXPECT_EQ(full.output, "tsdbctl list: cannot write the output: No space left on device\n");
}

TEST_F(Tsdbctl, PutRefusesHeadersItCannotReadAndIncidentsTheDatabaseWouldFold) {
    init();
    out("create " + db + " " + continuous_series);
    out("create " + db + " --type incident --level 1m:10000");
    const auto put = [&](const std::string& id, const std::string& csv) {
        return ctl("put " + db + " " + id + " --allow-future " + file("in.csv", csv));
    };
    const CommandOutcome bare = put("0", "1796679360,1796679420,5\n");
    EXPECT_EQ(bare.status, 1);
    EXPECT_NE(bare.output.find("line 1: the first line must name the columns: "
                               "start,end,min,avg,max,ngood,nbad"),
              std::string::npos)
        << bare.output;
    const CommandOutcome misspelt = put("0", "start,end,value,n_good\n1796679360,1796679420,5,3\n");
    EXPECT_EQ(misspelt.status, 1);
    EXPECT_NE(misspelt.output.find("line 1: unknown column \"n_good\""), std::string::npos);
    EXPECT_NE(put("0", "start,end,value,min\n1,2,3,4\n").output.find("give it or them"),
              std::string::npos);
    EXPECT_NE(put("0", "start,end,min,max\n1,2,3,4\n").output.find("no column \"avg\""),
              std::string::npos);
    const CommandOutcome huge = put("0", "start,end,value\n1796679360,1796679420,1e50\n");
    EXPECT_NE(huge.output.find("line 2: value 1e50 is beyond what a value can hold"),
              std::string::npos)
        << huge.output;
    // CR line ends, a byte-order mark and spaces around names are read.
    EXPECT_EQ(put("0",
                  "\xEF\xBB\xBF start , end ,value\r1796679360,1796679420,5\r"
                  "1796679420,1796679480,6\r")
                  .output,
              "wrote 2 intervals to series 0\n");
    const CommandOutcome close =
        put("1", "time,severity,message\n1796679360,3,a\n1796679380,4,b\n");
    EXPECT_EQ(close.status, 1);
    EXPECT_NE(close.output.find("line 3: less than 60 s after the incident at"), std::string::npos)
        << close.output;
    EXPECT_NE(ctl("put " + db + " 1 --allow-future --skip-invalid " +
                  file("in.csv", "time,severity,message\n1796679360,3,a\n1796679380,4,b\n"))
                  .output.find("wrote 1 of 2 intervals"),
              std::string::npos);
}

TEST_F(Tsdbctl, ReadsAndChartsDoNotMislead) {
    init();
    out("create " + db + " --type continuous --level 1h:100");
    out("put " + db + " 0 " +
        file("h.csv",
             "start,end,min,avg,max,ngood,nbad\n"
             "1700000000,1700003600,1,2,3,60,0\n1700003600,1700007200,,,,0,56\n"
             "1700007200,1700010800,1500,1500,1500,60,0\n"));
    // A read includes the record that covers its start.
    EXPECT_EQ(out("get " + db + " 0 --from 1700000001 --to 1700003700 --format csv"),
              "start,end,min,avg,max,ngood,nbad\n1700000000,1700003600,1,2,3,60,0\n"
              "1700003600,1700007200,,,,0,56\n");
    // So does a record written after a silence, longer than any level's step;
    // one that ends before the start stays out, however far back it lies.
    const std::string quiet = dir + "/quiet.tsdb";
    out("init " + quiet + " --size 8M");
    out("create " + quiet + " --type continuous --level 1m:100");
    out("put " + quiet + " 0 " +
        file("m.csv",
             "start,end,value\n1690000000,1690000060,1\n1700000000,1700003600,5\n"
             "1700003600,1700003660,6\n"));
    EXPECT_EQ(out("get " + quiet + " 0 --from 1700001000 --to 1700003700 --format csv"),
              "start,end,min,avg,max,ngood,nbad\n1700000000,1700003600,5,5,5,1,0\n"
              "1700003600,1700003660,6,6,6,1,0\n");
    EXPECT_EQ(out("get " + quiet + " 0 --from 1695000000 --to 1700000000 --format csv"),
              "start,end,min,avg,max,ngood,nbad\n");
    // A record without good samples is a gap; a prefixed unit gets no second prefix.
    const std::string chart =
        out("graph " + db + " 0 --from 1700000000 --to 1700010800 --unit ms -o -");
    EXPECT_EQ(occurrences(chart, "<polyline"), 2u) << chart;
    EXPECT_NE(chart.find("1500 ms"), std::string::npos);
    EXPECT_EQ(chart.find("kms"), std::string::npos);
    EXPECT_NE(out("graph " + db + " 0 --from 1700000000 --to 1700010800 --unit iB -o -")
                  .find("1.465 KiB"),
              std::string::npos);
    // 44 series: a colour and a legend entry each, inside the chart.
    std::string ids;
    for (int n = 1; n <= 44; ++n) {
        out("create " + db + " --type continuous --level 1h:10");
        out("put " + db + " " + std::to_string(n) + " " +
            file("v.csv", "start,end,value\n1700000000,1700003600," + std::to_string(n) + "\n"));
        ids += ' ';
        ids += std::to_string(n);
    }
    const std::string many = out("graph " + db + ids + " --from 1700000000 --to 1700003600 -o -");
    std::set<std::string> colours;
    for (size_t at = many.find("<polyline"); at != std::string::npos;
         at = many.find("<polyline", at + 1)) {
        const size_t stroke = many.find("stroke=\"", at) + 8;
        colours.insert(many.substr(stroke, many.find('"', stroke) - stroke));
    }
    EXPECT_EQ(colours.size(), 44u);
    for (int n = 1; n <= 44; ++n) {
        EXPECT_NE(many.find(">series " + std::to_string(n) + "</text>"), std::string::npos) << n;
    }
    for (size_t at = many.find("<text x=\""); at != std::string::npos;
         at = many.find("<text x=\"", at + 1)) {
        EXPECT_LT(std::stod(many.substr(at + 9)), 800.0);
    }
    // Incidents carry their messages in pictures too.
    out("create " + db + " --type incident --level 1:100000");
    out("put " + db + " 45 " +
        file("i.csv", "time,severity,message\n1700000100,3,disk full on /var\n"));
    EXPECT_NE(out("graph " + db + " 45 --from 1700000000 --to 1700003600 -o -")
                  .find(">disk full on /var</text>"),
              std::string::npos);
}

TEST_F(Tsdbctl, CounterRatesAndChartHelpers) {
    init();
    out("create " + db + " --type monotonic --level 1m:100");
    out("put " + db + " 0 " +
        file("c.csv",
             "start,end,value\n1700000000,1700000060,100\n1700000060,1700000120,160\n"
             "1700000120,1700000180,10\n1700000180,1700000240,70\n"
             "1700000240,1700000300,190\n"));
    const std::string range = " --from 1700000000 --to 1700000300";
    // The rise over the seconds between records; a fall is a reset, counted.
    EXPECT_EQ(out("get " + db + " 0" + range + " --rate --format csv"),
              "start,end,rate\n1700000060,1700000120,1\n1700000180,1700000240,1\n"
              "1700000240,1700000300,2\n");
    EXPECT_NE(ctl("get " + db + " 0" + range + " --rate --format csv")
                  .output.find("1 counter reset (the counter fell): no rate for that step\n"),
              std::string::npos);
    const std::string chart =
        out("graph " + db + " 0" + range + " --rate --hrule 1.5:limit --lower 0 --upper 4 -o -");
    EXPECT_NE(chart.find("rate per second"), std::string::npos);
    EXPECT_NE(chart.find(">limit</text>"), std::string::npos);
    EXPECT_NE(chart.find(">4 /s</text>"), std::string::npos) << chart;
    const std::string logarithmic =
        out("graph " + db + " 0" + range + " --logarithmic --hrule 1000 -o -");
    for (const char* tick : {">10</text>", ">100</text>", ">1 k</text>"}) {
        EXPECT_NE(logarithmic.find(tick), std::string::npos) << tick;
    }
    EXPECT_EQ(ctl("graph " + db + " 0 --lower 5 --upper 1 -o -").status, 2);
    EXPECT_EQ(ctl("graph " + db + " 0 --logarithmic --lower 0 -o -").status, 2);
    out("create " + db + " --type enum --level 1m:100");
    EXPECT_EQ(ctl("get " + db + " 1 --rate").status, 1);
}

TEST_F(Tsdbctl, AnRrdImportKeepsEveryPointRrdtoolKeepsAndSaysWhatEachLevelHolds) {
    init();
    const int64_t t0 = 1700000000 / 3600 * 3600;
    // A file made by rrdtool itself: a minute step, `minutes` updates.
    const auto rrd = [&](
                         const std::string& name, const std::string& archives, int minutes,
                         const std::function<std::string(int)>& value = [](int k) {
                             return std::to_string(k % 17);
                         }) {
        std::string path = dir + "/" + name;
        std::string updates;
        for (int k = 1; k <= minutes; ++k) {
            updates += ' ';
            updates += std::to_string(t0 + 60 * k) + ":" + value(k);
        }
        const CommandOutcome made = testing_support::run_command(
            "rrdtool create " + path + " --step 60 --start " + std::to_string(t0) +
            " DS:v:GAUGE:120:U:U " + archives + " && rrdtool update " + path + updates);
        EXPECT_EQ(made.status, 0) << made.output;
        return path;
    };
    const auto stored = [&](const std::string& id) { return out("describe " + db + " " + id); };
    // Holt-Winters archives beside the averages: the minutes all kept, the
    // predictions left out.
    const CommandOutcome hw = ctl("import " + db + " " +
                                  rrd("hw.rrd",
                                      "RRA:AVERAGE:0.5:1:300 RRA:AVERAGE:0.5:6:700 "
                                      "RRA:HWPREDICT:1440:0.1:0.0035:288",
                                      1500));
    EXPECT_EQ(hw.status, 0) << hw.output;
    EXPECT_NE(hw.output.find("left out the prediction archives (HWPREDICT"), std::string::npos)
        << hw.output;
    EXPECT_NE(stored("0").find("300 records"), std::string::npos) << stored("0");
    // Predictions alone at a resolution make no level.
    EXPECT_NE(
        out("import " + db + " " +
            rrd("hw_only.rrd", "RRA:AVERAGE:0.5:6:700 RRA:HWPREDICT:1440:0.1:0.0035:288", 1500))
            .find("(700 x 360 s)"),
        std::string::npos);
    // Consolidations of one resolution with other row counts.
    const CommandOutcome rows = ctl("import " + db + " " +
                                    rrd("rows.rrd",
                                        "RRA:AVERAGE:0.5:5:50 RRA:MIN:0.5:5:100 "
                                        "RRA:MAX:0.5:5:100 RRA:AVERAGE:0.5:60:100",
                                        1500));
    EXPECT_EQ(rows.status, 0) << rows.output;
    EXPECT_NE(rows.output.find("level 0 (300 s): min, avg and max from MIN, AVERAGE and MAX"),
              std::string::npos)
        << rows.output;
    EXPECT_NE(stored("2").find("50 records"), std::string::npos) << stored("2");
    // Values that are not averages are stored as such only when asked.
    const std::string last = rrd("last.rrd", "RRA:LAST:0.5:1:100", 200);
    const CommandOutcome refused = ctl("import " + db + " " + last);
    EXPECT_EQ(refused.status, 1);
    EXPECT_NE(refused.output.find("level 0 (60 s): avg from LAST"), std::string::npos);
    EXPECT_EQ(ctl("import " + db + " " + last + " --as-average").status, 0);
    // A middle archive without a known row: the hourly one still keeps only
    // the time before the minutes.
    const std::string gaps =
        rrd("gaps.rrd", "RRA:AVERAGE:0.5:1:180 RRA:AVERAGE:0:10:30 RRA:AVERAGE:0.5:60:30", 600,
            [](int k) { return k % 10 == 0 ? std::string("U") : "5"; });
    EXPECT_EQ(ctl("import " + db + " " + gaps).status, 0);
    const JsonValue levels = JsonReader(out("describe " + db + " 4 --format json")).document();
    const auto& kept = levels.fields.at("stored").items;
    ASSERT_EQ(kept.size(), 3u);
    EXPECT_TRUE(kept[1].fields.at("from").is_null);  // no known row
    EXPECT_LT(kept[2].fields.at("to").number, kept[0].fields.at("from").number);
    // Values a float cannot keep exactly are said once.
    const CommandOutcome rounded =
        ctl("import " + db + " " + rrd("big.rrd", "RRA:AVERAGE:0.5:1:60", 30, [](int) {
                return std::string("123456789");
            }));
    EXPECT_EQ(occurrences(rounded.output, "values are stored as 32-bit floats"), 1u)
        << rounded.output;
}

TEST_F(Tsdbctl, ALabelsFileNamesSeriesWhereverAnIdStands) {
    init();
    out("create " + db + " " + continuous_series);
    out("create " + db + " " + continuous_series);
    file("db.tsdb.labels", "check,name\n1,cpu.load,host=web1\n");
    EXPECT_EQ(out("list " + db),
              "id      name            layout\n"
              "0       -               continuous, 1609 x 60 s, 146 x 3600 s\n"
              "1       cpu.load        continuous, 1609 x 60 s, 146 x 3600 s\n");
    out("put " + db + " cpu.load " + file("in.csv", "start,end,value\n1796679360,1796679420,5\n"));
    EXPECT_NE(out("get " + db + " cpu.load --from 1796679000 --to 1796680000 --utc")
                  .find("series 1 (cpu.load)\n"),
              std::string::npos);
    EXPECT_NE(out("last " + db + " --format json")
                  .find("\"name\":\"cpu.load\",\"labels\":{\"host\":\"web1\"}"),
              std::string::npos);
    EXPECT_NE(
        out("get " + db + " 0 cpu.load --from 1796679000 --to 1796680000 --step 1h --format csv")
            .find("time,0,cpu.load\n"),
        std::string::npos);
    const CommandOutcome unknown = ctl("get " + db + " disk");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.output.find("\"disk\" is neither a series id nor a name"), std::string::npos);
    // Export asks for one way at a time, and only the URLs it can reach.
    EXPECT_EQ(ctl("export " + db).status, 2);
    EXPECT_EQ(ctl("export " + db + " --format openmetrics --remote-write http://x/").status, 2);
    EXPECT_EQ(ctl("export " + db + " --format csv").status, 2);
    EXPECT_EQ(ctl("export " + db + " --format openmetrics --follow").status, 2);
    EXPECT_EQ(ctl("export " + db + " --remote-write http://127.0.0.1:1/ --to now").status, 2);
    const CommandOutcome https = ctl("export " + db + " --remote-write https://example/");
    EXPECT_EQ(https.status, 1);
    EXPECT_NE(https.output.find("must start with http://"), std::string::npos) << https.output;
    EXPECT_NE(out("export " + db + " --format openmetrics")
                  .find("tsdb_avg{check=\"1\",host=\"web1\",name=\"cpu.load\""),
              std::string::npos);
    const CommandOutcome malformed =
        ctl("list " + db + " --labels " + file("bad.labels", "check,name\n1,a,b\n"));
    EXPECT_EQ(malformed.status, 1);
    EXPECT_NE(malformed.output.find("bad.labels line 2: \"b\" is not label=value"),
              std::string::npos);
}

TEST_F(Tsdbctl, ReadingVerbsReadAFileNobodyMayWriteAndLeaveItAsItWas) {
    init();
    out("create " + db + " --type continuous --level 1m:10 --level 1h:20");
    std::string csv = "start,end,value\n";
    for (int m = 0; m < 200; ++m) {
        csv += std::to_string(1700000000 + 60 * m) + "," + std::to_string(1700000060 + 60 * m) +
               ",1\n";
    }
    out("put " + db + " 0 " + file("in.csv", csv) + " --allow-future");
    ASSERT_EQ(chmod(db.c_str(), 0444), 0);
    const auto bytes = [this] {
        std::ifstream in(db, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const std::string before = bytes();
    // What describe says each level stores is what the engine holds, as
    // the inspector reads it, not a guess from the records' spans.
    const JsonValue described = JsonReader(out("describe " + db + " 0 --format json")).document();
    const std::string inspected =
        testing_support::run_command(std::string(TSDB_INSPECT) + " series " + db + " --format json")
            .output;
    const JsonValue levels =
        JsonReader(inspected).document().fields.at("series").items.at(0).fields.at("levels");
    ASSERT_EQ(levels.items.size(), 2u);
    for (size_t l = 0; l < 2; ++l) {
        EXPECT_EQ(described.fields.at("stored").items.at(l).fields.at("records").number,
                  levels.items[l].fields.at("records").number);
    }
    EXPECT_GT(levels.items[1].fields.at("records").number, 0);
    for (const std::string& verb : std::vector<std::string>{
             "describe 0", "list", "oldest", "oldest 0", "checksum 0",
             "get 0 --from 1700000000 --to 1700020000", "extract 0 -o " + dir + "/patch",
             "graph 0 --from 1700000000 --to 1700020000 -o " + dir + "/chart.svg"}) {
        const size_t blank = verb.find(' ');
        const std::string rest = blank == std::string::npos ? "" : verb.substr(blank);
        EXPECT_EQ(ctl(verb.substr(0, blank) + " " + db + rest).status, 0) << verb;
    }
    EXPECT_TRUE(bytes() == before);
    // A verb that writes says why it cannot, where the file may not be written.
    if (geteuid() != 0) {
        EXPECT_EQ(ctl("delete " + db + " 0").status, 1);
    }
}

TEST_F(Tsdbctl, ReadingVerbsWorkOnAFileADatabaseHoldsAndWritingVerbsSayWhichDo) {
    init();
    out("create " + db + " --type continuous --level 1m:10 --level 1h:20");
    out("put " + db + " 0 " +
        file("in.csv", "start,end,value\n1700000000,1700000060,1\n1700000060,1700000120,2\n"));
    const std::string list = out("list " + db);
    const std::string get = out("get " + db + " 0 --from 1700000000 --to 1700000120 --format csv");
    const auto bytes = [this] {
        std::ifstream in(db, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    tsdb::Database held = tsdb::Database::open(db);
    const std::string before = bytes();
    struct stat written {};
    ASSERT_EQ(stat(db.c_str(), &written), 0);
    EXPECT_EQ(out("list " + db), list);
    EXPECT_EQ(out("get " + db + " 0 --from 1700000000 --to 1700000120 --format csv"), get);
    for (const std::string& verb : std::vector<std::string>{
             "describe 0", "last", "oldest 0", "checksum 0", "dump", "extract 0 -o " + dir + "/p",
             "graph 0 --from 1700000000 --to 1700000120 -o " + dir + "/c.svg",
             "diff 0 " + db + " 0"}) {
        const size_t blank = verb.find(' ');
        const std::string rest = blank == std::string::npos ? "" : verb.substr(blank);
        EXPECT_EQ(ctl(verb.substr(0, blank) + " " + db + rest).status, 0) << verb;
    }
    for (const char* command : {"check", "header", "chains", "space", "series"}) {
        const CommandOutcome inspected =
            testing_support::run_command(std::string(TSDB_INSPECT) + " " + command + " " + db);
        EXPECT_EQ(inspected.status, 0) << command << ": " << inspected.output;
    }
    // On a terminal, get and last say which commit they read.
    for (const auto& [verb, rest] : {std::pair{"last", ""}, {"get", " 0 --from 1700000000"}}) {
        const std::string shown =
            testing_support::run_command("script -qc '" + std::string(TSDBCTL) + " " + verb + " " +
                                         db + rest + "' /dev/null")
                .output;
        EXPECT_NE(shown.find("(the last commit, made by "), std::string::npos) << shown;
    }
    // Readers neither write nor touch the file.
    struct stat after {};
    ASSERT_EQ(stat(db.c_str(), &after), 0);
    EXPECT_TRUE(bytes() == before);
    EXPECT_EQ(after.st_mtim.tv_sec, written.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, written.st_mtim.tv_nsec);
    // A verb that writes still refuses, and says which verbs read a held file.
    for (const std::string& verb :
         {"delete " + db + " 0", "restore " + db + " --force " + file("dump", out("dump " + db))}) {
        const CommandOutcome refused = ctl(verb);
        EXPECT_EQ(refused.status, 1);
        EXPECT_NE(refused.output.find("held by a database process; stop it first (list, "
                                      "describe, get, last, oldest, checksum, extract, graph, "
                                      "dump and diff read it while it runs)"),
                  std::string::npos)
            << refused.output;
    }
    EXPECT_TRUE(bytes() == before);
}

TEST_F(Tsdbctl, ALevelAskedForADayOfMinutesKeepsADayOnceFull) {
    init();
    out("load " + db + " --series 1 --days 7");
    const JsonValue described = JsonReader(out("describe " + db + " 0 --format json")).document();
    EXPECT_GE(described.fields.at("stored").items.at(0).fields.at("records").number, 1440);
    EXPECT_GT(described.fields.at("stored").items.at(1).fields.at("records").number, 0)
        << "the finest level has been full and folded into the next";
}

TEST_F(Tsdbctl, CsvInAndCsvAndJsonOutAgree) {
    init();
    out("create " + db + " " + continuous_series);
    const std::string input =
        "start,end,min,avg,max,ngood,nbad\n"
        "1700000000,1700000060,1.000000,2.000000,3.000000,1,0\n"
        "2023-11-14T22:14:20Z,2023-11-14T22:15:20Z,0.000000,0.000000,0.000000,0,1\n"
        "1700000120,1700000180,-4.500000,-4.500000,-4.500000,2,0\n";
    EXPECT_EQ(out("put " + db + " 0 " + file("in.csv", input)), "wrote 3 intervals to series 0\n");
    const std::string range = " 0 --from 1700000000 --to 1700000180";
    const std::string csv = out("get " + db + range + " --format csv");
    // Shortest exact numbers; no values where there were no good samples.
    EXPECT_EQ(csv,
              "start,end,min,avg,max,ngood,nbad\n"
              "1700000000,1700000060,1,2,3,1,0\n"
              "1700000060,1700000120,,,,0,1\n"
              "1700000120,1700000180,-4.5,-4.5,-4.5,2,0\n");
    EXPECT_NE(out("get " + db + range).find("  -  "), std::string::npos);
    // Tables name their zone and show each interval's span.
    const std::string utc = out("get " + db + range + " --utc");
    EXPECT_EQ(utc.rfind("        start (UTC)            end (UTC)  span", 0), 0u) << utc;
    EXPECT_NE(utc.find("2023-11-14 22:13:20  2023-11-14 22:14:20   1 m"), std::string::npos);
    const CommandOutcome eastern =
        testing_support::run_command("TZ=EST5 " + std::string(TSDBCTL) + " get " + db + range);
    EXPECT_NE(eastern.output.find("2023-11-14 17:13:20 "), std::string::npos) << eastern.output;
    EXPECT_NE(eastern.output.find("start (EST)"), std::string::npos);
    // What get writes, put takes back, to the same checksum.
    out("create " + db + " " + continuous_series);
    out("put " + db + " 1 " + file("again.csv", csv));
    EXPECT_EQ(out("get " + db + " 1 --from 1700000000 --to 1700000180 --format csv"), csv);
    EXPECT_EQ(out("checksum " + db + " 1"), out("checksum " + db + " 0"));

    const JsonValue json = JsonReader(out("get " + db + range + " --format json")).document();
    ASSERT_EQ(json.items.size(), 3u);
    EXPECT_EQ(json.items[2].fields.at("start").number, 1700000120);
    EXPECT_EQ(json.items[2].fields.at("avg").number, -4.5);
    EXPECT_EQ(json.items[1].fields.at("nbad").number, 1);
    EXPECT_TRUE(json.items[1].fields.at("min").is_null);

    // Small values keep their digits, masks every bit.
    out("put " + db + " 0 " +
        file("small.csv", "start,end,value\n1700000180,1700000240,1.23e-7\n"));
    EXPECT_NE(
        out("get " + db + " 0 --from 1700000180 --to 1700000240 --format csv").find(",1.23e-07,"),
        std::string::npos);
    out("create " + db + " --type enum --level 1m:100");
    out("put " + db + " 2 " +
        file("mask.csv", "start,end,mask,ngood,nbad\n1700000000,1700000060,4294967295,1,0\n"));
    EXPECT_NE(out("get " + db + " 2 --from 1700000000 --to 1700000060 --format json")
                  .find("\"mask\":4294967295"),
              std::string::npos);

    // Text that is not UTF-8 still makes valid JSON.
    out("create " + db + " --type incident --level 1:4096");
    out("put " + db + " 3 " +
        file("bytes.csv", "time,severity,message\n1700000000,2,bad \xff byte\n"));
    const std::string incidents =
        out("get " + db + " 3 --from 1699999999 --to 1700000001 --format json");
    EXPECT_EQ(incidents.find('\xff'), std::string::npos);
    EXPECT_NE(incidents.find("bad \xef\xbf\xbd byte"), std::string::npos) << incidents;

    // A malformed line stops everything before a record is written.
    const CommandOutcome bad = ctl("put " + db + " 0 " +
                                   file("bad.csv",
                                        "start,end,value\n"
                                        "1700000300,1700000360,1\n"
                                        "1700000360,1700000420,one\n"));
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.output, "tsdbctl put: line 3: value must be a number, not \"one\"\n");
    EXPECT_EQ(out("get " + db + " 0 --from 1700000300 --to 1700000500 --format csv"),
              "start,end,min,avg,max,ngood,nbad\n");
}

TEST_F(Tsdbctl, RecoveryGoesThroughFiles) {
    init();
    out("load " + db + " --series 2 --days 1 --start 1700000000");
    // Bare for scripts: one field.
    EXPECT_EQ(out("oldest " + db), "1700000000\n");
    EXPECT_EQ(out("oldest " + db + " 1"), "1700000000\n");
    out("truncate " + db + " 0 --before 1700003600");
    EXPECT_EQ(out("oldest " + db + " 0"), "1700003660\n");

    const std::string copy = dir + "/copy.tsdb";
    out("init " + copy + " --size 8M");
    out("create " + copy + " --type continuous --level 1m:1440 --level 5m:2016 --level 1h:8760");
    out("extract " + db + " 0 -o " + dir + "/patch");
    const std::string merged = out("merge " + copy + " 0 " + dir + "/patch");
    EXPECT_EQ(merged.rfind("series 0: 0 records -> ", 0), 0u) << merged;
    const std::string held = merged.substr(23);
    const std::string checksum = out("checksum " + db + " 0");
    EXPECT_EQ(checksum.size(), 17u);
    EXPECT_EQ(out("checksum " + copy + " 0"), checksum);
    EXPECT_NE(out("checksum " + db + " 1"), checksum);

    // A merge keeps what the series holds; --replace keeps only the patch.
    out("create " + db + " " + continuous_series);
    out("put " + db + " 2 " +
        file("two.csv", "start,end,value\n1700000000,1700000060,1\n1700000060,1700000120,2\n"));
    out("extract " + db + " 2 -o " + dir + "/two");
    EXPECT_EQ(out("merge " + copy + " 0 " + dir + "/patch"),
              "series 0: " + held.substr(0, held.size() - 1) + " -> " + held);
    EXPECT_EQ(out("merge " + copy + " 0 " + dir + "/two --replace"),
              "series 0: " + held.substr(0, held.size() - 1) + " -> 2 records\n");
    EXPECT_EQ(ctl("merge " + copy + " 0 " + dir + "/no-such-patch").output,
              "tsdbctl merge: cannot read " + dir + "/no-such-patch\n");

    // --fill takes only records for times the series holds none of.
    out("create " + db + " " + continuous_series);
    out("put " + db + " 3 " +
        file("gaps.csv",
             "start,end,value\n1700000000,1700000060,9\n1700000090,1700000150,4\n"
             "1700000150,1700000210,3\n1700000240,1700000300,5\n"));
    out("extract " + db + " 3 -o " + dir + "/gaps");
    EXPECT_EQ(out("merge " + db + " 2 " + dir + "/gaps --fill"),
              "series 2: 2 records -> 4 records\n");
    EXPECT_EQ(out("get " + db + " 2 --from 1700000000 --to 1700000300 --format csv"),
              "start,end,min,avg,max,ngood,nbad\n"
              "1700000000,1700000060,1,1,1,1,0\n"
              "1700000060,1700000120,2,2,2,1,0\n"
              "1700000150,1700000210,3,3,3,1,0\n"
              "1700000240,1700000300,5,5,5,1,0\n");
    EXPECT_EQ(ctl("merge " + db + " 2 " + dir + "/gaps --fill --replace").status, 2);
    EXPECT_EQ(ctl("merge " + db + " 1 " + dir + "/gaps --fill").status, 0);
    out("create " + db + " --type enum --level 1m:100");
    EXPECT_EQ(
        ctl("merge " + db + " 4 " + dir + "/gaps --fill").output,
        "tsdbctl merge: " + dir + "/gaps is a patch of a continuous series, not of an enum one\n");
    EXPECT_EQ(
        ctl("merge " + db + " 4 " + file("not.patch", "start,end\n")).output,
        "tsdbctl merge: " + dir + "/not.patch is not a patch (tsdbctl extract writes them)\n");
    // Options go after the verb; init names --force; a range must not end before it starts.
    EXPECT_NE(ctl("--format json list " + db).output.find("options go after the verb"),
              std::string::npos);
    EXPECT_EQ(ctl("init " + db).output,
              "tsdbctl init: " + db + " exists already (--force replaces it)\n");
    EXPECT_EQ(ctl("get " + db + " 1 --from now --to -1d").status, 2);
}

TEST_F(Tsdbctl, ADumpRestoresEverySeriesUnderItsIdWithItsRecordsInTheirLevels) {
    out("init " + db + " --size 16M");
    // A week of a monotonic counter fills every level with records that a
    // new aggregation would fold differently.
    out("load " + db + " --type monotonic --series 1 --days 7 --start 1700000000");
    out("load " + db + " --series 2 --days 1 --start 1700000000");
    out("create " + db + " --type incident --level 1:1000");
    out("put " + db + " 3 " +
        file("i.csv", "time,severity,message\n1700000100,3,\"disk, \"\"sda\"\" \u2603\"\n"));
    out("create " + db + " --type enum --level 1m:100");
    out("create " + db + " --type enum --level 1m:100");
    out("put " + db + " 5 " +
        file("e.csv", "start,end,mask,ngood,nbad\n1700000000,1700000060,5,1,0\n"));
    out("delete " + db + " 4");
    const std::string dump = out("dump " + db);
    EXPECT_EQ(dump.rfind("{\"series\":0,\"type\":\"monotonic\",\"levels\":[{\"size\":1609,"
                         "\"resolution\":60},",
                         0),
              0u)
        << dump.substr(0, 200);
    EXPECT_NE(dump.find("{\"series\":3,\"level\":0,\"start\":1700000100,\"duration\":0,"
                        "\"severity\":3,\"text\":\"disk, \\\"sda\\\" \u2603\"}\n"),
              std::string::npos);
    const std::string copy = dir + "/copy.tsdb";
    EXPECT_EQ(out("restore " + copy + " --block-size 8192 --size 16M " + file("dump", dump)),
              "restored 5 series and " + std::to_string(occurrences(dump, "\"level\"")) +
                  " records into " + copy + "\n");
    // Levels keep their record counts, rounded up to whole blocks of the new size.
    const std::string listed = out("list " + copy);
    EXPECT_NE(listed.find("\n3       incident, 8192 x 1 s\n5       enum, 409 x 60 s\n"),
              std::string::npos)
        << listed;
    for (const char* id : {"0", "1", "2", "3", "5"}) {
        EXPECT_EQ(out("checksum " + copy + " " + id), out("checksum " + db + " " + id)) << id;
        const std::string before = out("describe " + db + " " + id + " --format json");
        const std::string after = out("describe " + copy + " " + id + " --format json");
        EXPECT_EQ(after.substr(after.find("\"stored\"")), before.substr(before.find("\"stored\"")))
            << id;
    }
    const auto records_of = [](const std::string& text) {
        std::string records;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            records += line.find("\"level\":") != std::string::npos ? line + "\n" : "";
        }
        return records;
    };
    EXPECT_TRUE(records_of(out("dump " + copy)) == records_of(dump));
    // How many records a week holds depends on when the process's age flush
    // ran during the load; that the copy holds the same is what counts.
    const std::string same = out("diff " + db + " 0 " + copy + " 0");
    EXPECT_EQ(same.rfind("the series hold the same ", 0), 0u) << same;
    EXPECT_TRUE(same.ends_with(" records\n")) << same;
    out("put " + copy + " 5 --backfill " +
        file("e2.csv", "start,end,mask,ngood,nbad\n1699990000,1699990060,1,1,0\n"));
    out("truncate " + copy + " 1 --before 1700000600");
    out("put " + copy + " 1 " + file("c.csv", "start,end,value\n1700090000,1700090060,1\n"));
    const CommandOutcome differ = ctl("diff " + copy + " 5 " + db + " 5 --utc");
    EXPECT_EQ(differ.status, 1);
    EXPECT_EQ(differ.output,
              "from (UTC)           to                   only first  only second  different\n"
              "2023-11-14 19:26:40  2023-11-14 19:27:40           1            0          0\n"
              "tsdbctl diff: the series differ in 1 stretch\n");
    const JsonValue stretches =
        JsonReader(testing_support::run_command("{ " + std::string(TSDBCTL) + " diff " + db +
                                                " 1 " + copy + " 1 --format json 2>/dev/null; }")
                       .output)
            .document();
    ASSERT_EQ(stretches.items.size(), 2u);
    EXPECT_EQ(stretches.items[0].fields.at("from").number, 1700000000);
    EXPECT_EQ(stretches.items[0].fields.at("to").number, 1700000660);
    EXPECT_EQ(stretches.items[0].fields.at("only_first").number, 11);
    EXPECT_EQ(stretches.items[1].fields.at("only_second").number, 1);
    // A broken dump names its line and leaves no half database behind.
    const std::string broken = dump.substr(0, dump.find('\n') + 1) + "{\"series\":0,\"level\":0}\n";
    const CommandOutcome refused = ctl("restore " + dir + "/broken.tsdb " + file("broken", broken));
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output, "tsdbctl restore: line 2: \"start\" is missing\n");
    EXPECT_FALSE(std::filesystem::exists(dir + "/broken.tsdb"));
}

TEST_F(Tsdbctl, ARestoreReplacesADatabaseOnlyWithAWholeDumpOfValuesItStoresExactly) {
    init();
    out("create " + db + " --type continuous --level 1m:100 --level 1h:100");
    out("put " + db + " 0 " + file("c.csv", "start,end,value\n1700000000,1700000060,0.1\n"));
    const std::string checksum = out("checksum " + db + " 0");
    const auto untouched = [&](const std::string& why) {
        EXPECT_EQ(out("checksum " + db + " 0"), checksum) << why;
        for (const auto& entry : std::filesystem::directory_iterator(dir)) {
            EXPECT_EQ(entry.path().filename().string().find(".restore-"), std::string::npos)
                << why << ": " << entry.path();
        }
    };
    const auto refused = [&](const std::string& input, const std::string& why) {
        const CommandOutcome r = ctl("restore " + db + " --force " + input);
        EXPECT_EQ(r.status, 1) << why << ": " << r.output;
        untouched(why);
        return r.output;
    };
    EXPECT_EQ(refused(file("cut", "{\"series\":0,\n"), "a cut line"),
              "tsdbctl restore: line 1: is not a JSON object\n");
    EXPECT_EQ(refused("</dev/null", "no input"),
              "tsdbctl restore: nothing to restore: the dump holds no series\n");
    const std::string dump = out("dump " + db);
    EXPECT_TRUE(dump.ends_with("{\"end\":{\"series\":1,\"records\":1}}\n")) << dump;
    const std::string early = dump.substr(0, dump.rfind("{\"end\""));
    EXPECT_EQ(refused(file("early", early), "a dump without its closing line"),
              "tsdbctl restore: the dump ends early, after line 2; --partial restores what it "
              "holds\n");
    EXPECT_EQ(out("dump " + db + " | " + TSDBCTL + " restore " + db + " --force"),
              "restored 1 series and 1 records into " + db + "\n");
    untouched("a dump of the database itself");
    const std::string partial = dir + "/partial.tsdb";
    EXPECT_EQ(out("restore " + partial + " --partial " + file("early", early)),
              "restored 1 series and 1 records into " + partial +
                  " (the dump ends early, after line 2)\n");

    // Each field is taken only when it fits the record exactly.
    const std::string head = dump.substr(0, dump.find('\n') + 1);
    const std::string end = "{\"end\":{\"series\":1,\"records\":1}}\n";
    const auto record = [](const std::string& name, const std::string& value) {
        std::string line = R"({"series":0,"level":0)";
        for (const char* field : {"start", "duration", "ngood", "nbad", "min", "avg", "max"}) {
            const std::string fallback = field == std::string("start") ? "1700000000" : "1";
            line += std::string(",\"") + field + "\":" + (name == field ? value : fallback);
        }
        return line + "}\n";
    };
    const std::string whole = "takes a whole number from 0 to 4294967295, not ";
    const std::map<std::string, std::string> bad_dumps = {
        {R"({"series":4294967296,"type":"continuous","levels":[]})",
         "line 1: \"series\" " + whole + "4294967296"},
        {head + record("start", "4995967296") + end, "line 2: \"start\" " + whole + "4995967296"},
        {head + record("start", "1700000000.5") + end,
         "line 2: \"start\" " + whole + "1700000000.5"},
        {head + record("ngood", "true") + end, "line 2: \"ngood\" " + whole + "true"},
        {head + record("ngood", "5000000000") + end, "line 2: \"ngood\" " + whole + "5000000000"},
        {head + record("max", "1e39") + end,
         "line 2: \"max\" is beyond what a value can hold (about 3.4e38), not 1e+39"},
        {head + record("", "") + record("start", "1699999940") + end,
         "line 3: a record of level 0 starting at 1699999940 follows one starting at "
         "1700000000; a level's records go oldest first"},
        {R"({"series":0,"type":"counter","levels":[{"size":10,"resolution":60}]})",
         R"(line 1: unknown type "counter" (continuous, enum, monotonic or incident))"},
        {R"({"series":4000000,"type":"enum","levels":[{"size":10,"resolution":60}]})",
         "line 1: series 4000000 is above 1048575, the highest id a restore gives"},
        {head + record("", "") + "{\"end\":{\"series\":1,\"records\":2}}\n",
         "line 3: the dump's closing line counts 1 series and 2 records, but it holds 1 and 1"},
    };
    const std::string fresh = dir + "/fresh.tsdb";
    for (const auto& [lines, message] : bad_dumps) {
        const CommandOutcome r = ctl("restore " + fresh + " " + file("bad", lines));
        EXPECT_EQ(r.status, 1) << lines;
        EXPECT_EQ(r.output, "tsdbctl restore: " + message + "\n") << lines;
        EXPECT_FALSE(std::filesystem::exists(fresh)) << lines;
    }
    // A line longer than any record's is refused without being read whole.
    const CommandOutcome long_line = testing_support::run_command(
        "head -c 70000000 /dev/zero | tr '\\0' a | " + std::string(TSDBCTL) + " restore " + fresh);
    EXPECT_EQ(long_line.status, 1);
    EXPECT_NE(long_line.output.find("line 1: is longer than any record's line"), std::string::npos)
        << long_line.output;
}

TEST_F(Tsdbctl, AResizedSeriesKeepsItsIdAndItsSamplesFoldedIntoTheNewLevels) {
    init();
    out("load " + db + " --series 2 --days 2 --start 1700000000");
    const auto whole = [&](const char* id) {
        // One interval over everything: the good and bad counts, min and max.
        const std::string row =
            out("get " + db + " " + id + " --from 0 --to 1800000000 --points 1 --format csv");
        const std::string fields = row.substr(row.find('\n') + 1);
        return fields.substr(0, fields.find(',', fields.find(',') + 1)) + "," +
               fields.substr(fields.rfind(',', fields.rfind(',') - 1));
    };
    const std::string samples = whole("0");
    const std::string last_hour = "1 --from 1700169200 --to 1700172800 --format csv";
    const std::string recent = out("get " + db + " " + last_hour);
    const std::string other = out("checksum " + db + " 1");
    EXPECT_EQ(out("resize " + db + " 0 --level 1m:120 --level 10m:500 --level 1d:30")
                  .rfind("series 0: 1872 records -> ", 0),
              0u);
    EXPECT_EQ(whole("0"), samples);
    EXPECT_EQ(out("list " + db).substr(0, 90),
              "id      layout\n0       continuous, 146 x 60 s, 731 x 600 s, 146 x 86400 s\n1       "
              "continuo");
    EXPECT_EQ(out("get " + db + " " + last_hour), recent);
    EXPECT_EQ(out("checksum " + db + " 1"), other);
    // Too little room drops the oldest, and says how many.
    const std::string shrunk = out("resize " + db + " 1 --level 1m:10");
    EXPECT_NE(shrunk.find(" older than the new levels hold dropped\n"), std::string::npos)
        << shrunk;
    EXPECT_EQ(out("get " + db + " " + last_hour), recent);
    // A refused layout changes nothing.
    const std::string kept = out("checksum " + db + " 0");
    EXPECT_EQ(ctl("resize " + db + " 0 --level 1h:10 --level 1m:10").status, 2);
    EXPECT_EQ(ctl("resize " + db + " 0 --level 1m:2000000000")
                  .output.rfind("tsdbctl resize: Series layout needs ", 0),
              0u);
    EXPECT_EQ(out("checksum " + db + " 0"), kept);
    EXPECT_EQ(ctl("resize " + db + " 7 --level 1m:10").status, 1);
    // Minutes into a level of hours fold as a write into it folds them:
    // two days of minutes fit in 100 hours, every sample kept.
    out("load " + db + " --series 1 --days 2 --start 1700000000");
    const std::string minutes = whole("2");
    const std::string folded = out("resize " + db + " 2 --level 1h:100");
    EXPECT_EQ(folded.find("dropped"), std::string::npos) << folded;
    EXPECT_EQ(whole("2"), minutes);
}

TEST_F(Tsdbctl, RrdAndWhisperFilesImportWithALevelPerArchiveAndEveryPoint) {
    init();
    // Minute k of the RRD file holds k; its 10-minute archives keep the
    // minimum, average and maximum of ten minutes.
    const int64_t t0 = 1700000000 / 600 * 600;
    std::ostringstream updates;
    for (int k = 1; k <= 400; ++k) {
        updates << ' ' << t0 + k * 60 << ':' << k << ':' << -k;
    }
    const std::string rrd = dir + "/in.rrd";
    ASSERT_EQ(testing_support::run_command(
                  "rrdtool create " + rrd + " --step 60 --start " + std::to_string(t0) +
                  " DS:up:GAUGE:120:U:U DS:down:GAUGE:120:U:U RRA:AVERAGE:0.5:1:100 "
                  "RRA:MIN:0.5:10:50 RRA:AVERAGE:0.5:10:50 RRA:MAX:0.5:10:50 && rrdtool update " +
                  rrd + updates.str())
                  .status,
              0);
    EXPECT_EQ(out("import " + db + " " + rrd + " --ds down"),
              "imported 130 points of " + rrd + " into series 0 (100 x 60 s, 50 x 600 s)\n");
    std::string expected = "start,end,min,avg,max,ngood,nbad\n";
    for (int j = 0; j < 30; ++j) {  // before the minutes' archive begins
        const int64_t start = t0 + j * 600;
        expected += std::to_string(start) + "," + std::to_string(start + 600) + "," +
                    std::to_string(-(j * 10 + 10)) + "," + std::to_string(-(j * 10 + 5)) + ".5," +
                    std::to_string(-(j * 10 + 1)) + ",1,0\n";
    }
    for (int k = 301; k <= 400; ++k) {
        const std::string v = std::to_string(-k);
        expected += std::to_string(t0 + (k - 1) * 60) + "," + std::to_string(t0 + k * 60) + "," +
                    v + "," + v + "," + v + ",1,0\n";
    }
    EXPECT_EQ(out("get " + db + " 0 --from 0 --to 2000000000 --format csv"), expected);
    EXPECT_EQ(ctl("import " + db + " " + rrd + " --ds sideways").output,
              "tsdbctl import: " + rrd + " has no data source \"sideways\"\n");

    // whisper's own reading of its file is what the series must hold, each
    // archive for the time before the finer one begins.
    const std::string script = file("points.py", R"(import sys, whisper
path, shape = sys.argv[1:]
now = 1796679600
if shape == "average":
    archives = [(60, 100), (600, 50)]
    whisper.create(path, archives)
    # The last 90 minutes, then older minutes only the 10-minute archive keeps.
    ks = list(range(1, 91)) + list(range(150, 300))
    whisper.update_many(path, [(now - 60 * k, k / 4) for k in ks], now=now)
else:
    # Summed; the 10-minute archive stops when too few minutes come to fill
    # its points, and whisper no longer reads its points beyond its reach.
    archives = [(60, 10), (600, 10)]
    whisper.create(path, archives, xFilesFactor=0.5, aggregationMethod="sum")
    for t in list(range(now - 3 * 3600, now - 4800, 60)) + list(range(now - 4800, now + 1, 300)):
        whisper.update(path, t % 7, t, now=t)
def known(step, points):
    (start, end, step), values = whisper.fetch(path, now - step * points, now, now)
    return [(t, t + step, v) for t, v in zip(range(start, end, step), values) if v is not None]
fine = known(*archives[0])
coarse = [p for p in known(*archives[1]) if p[0] < fine[0][0]]
print(len(fine) + len(coarse))
for p in coarse + fine:
    print("%d,%d,%r" % p)
)");
    for (const auto& [shape, series] : {std::pair{"average", "1"}, {"sum", "2"}}) {
        const std::string wsp = dir + "/" + shape + ".wsp";
        const CommandOutcome points =
            testing_support::run_command("/usr/bin/python3 " + script + " " + wsp + " " + shape);
        ASSERT_EQ(points.status, 0) << points.output;
        const std::string count = points.output.substr(0, points.output.find('\n'));
        if (shape == std::string("sum")) {
            const CommandOutcome refused = ctl("import " + db + " " + wsp);
            EXPECT_EQ(refused.status, 1);
            EXPECT_NE(refused.output.find("level 1 (600 s): avg from sum"), std::string::npos);
            EXPECT_NE(refused.output.find("--as-average"), std::string::npos);
            EXPECT_EQ(out("import " + db + " " + wsp + " --as-average"),
                      "imported " + count + " points of " + wsp +
                          " into series 2 (10 x 60 s, 10 x 600 s)\n");
        } else {
            EXPECT_EQ(out("import " + db + " " + wsp),
                      "imported " + count + " points of " + wsp +
                          " into series 1 (100 x 60 s, 50 x 600 s)\n");
        }
        std::string held;
        std::istringstream rows(
            out("get " + db + " " + series + " --from 0 --to 2000000000 --format csv"));
        std::string row;
        std::getline(rows, row);
        while (std::getline(rows, row)) {
            const size_t min_at = row.find(',', row.find(',') + 1);
            const std::string value =
                row.substr(min_at + 1, row.find(',', min_at + 1) - min_at - 1);
            held += row.substr(0, min_at) + "," +
                    (value.find('.') == std::string::npos ? value + ".0" : value) + "\n";
        }
        EXPECT_EQ(held, points.output.substr(points.output.find('\n') + 1)) << shape;
    }
    file("not.wsp", "nothing");
    EXPECT_EQ(
        ctl("import " + db + " " + dir + "/not.wsp").output,
        "tsdbctl import: " + dir + "/not.wsp is not a whisper file (no archives in its header)\n");
}

TEST_F(Tsdbctl, AnImportIsAllOrNothingAndRefusesFilesNoPeerWrites) {
    init();
    const std::string rrd = dir + "/in.rrd";
    ASSERT_EQ(testing_support::run_command("rrdtool create " + rrd +
                                           " --step 60 --start 1700000000 DS:v:GAUGE:120:U:U "
                                           "RRA:AVERAGE:0.5:1:10 RRA:AVERAGE:0.5:5:10")
                  .status,
              0);
    std::ifstream in(rrd, std::ios::binary);
    const std::string made{std::istreambuf_iterator<char>(in), {}};
    // The file's step, and the first archive's rows and steps per row
    // (64-bit words after its header and one data source's definition).
    const auto with_word = [&](const std::string& name, size_t offset) {
        std::string damaged = made;
        std::fill_n(damaged.begin() + static_cast<std::ptrdiff_t>(offset), 8, '\0');
        return file(name, damaged);
    };
    const std::map<std::string, std::string> refused = {
        {with_word("step.rrd", 40), "step.rrd has a step of 0 seconds"},
        {with_word("rows.rrd", 128 + 120 + 24), "rows.rrd: rra[0] has 0 rows of 1 steps"},
        {with_word("steps.rrd", 128 + 120 + 32), "steps.rrd: rra[0] has 10 rows of 0 steps"},
    };
    for (const auto& [path, message] : refused) {
        const CommandOutcome r = ctl("import " + db + " " + path);
        EXPECT_EQ(r.status, 1) << r.output;
        EXPECT_EQ(r.output.rfind("tsdbctl import: " + dir + "/" + message, 0), 0u) << r.output;
    }
    // A whisper point no record can hold fails the import and leaves no series.
    std::string wsp;
    const auto big_endian = [&](uint64_t value, int bytes) {
        for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
            wsp.push_back(static_cast<char>(value >> shift));
        }
    };
    // Header (average, 120 s kept, x-files factor 0.5, one archive), the
    // archive (at byte 28, 60 s per point, 2 points), its points.
    for (const uint32_t word : {1u, 120u, 0x3f000000u, 1u, 28u, 60u, 2u}) {
        big_endian(word, 4);
    }
    for (const auto& [time, value] : {std::pair{1700000040u, 1.0}, {1700000100u, 1e39}}) {
        big_endian(time, 4);
        big_endian(std::bit_cast<uint64_t>(value), 8);
    }
    const CommandOutcome big = ctl("import " + db + " " + file("big.wsp", wsp));
    EXPECT_EQ(big.status, 1);
    EXPECT_NE(big.output.find("tsdbctl import: " + dir +
                              "/big.wsp: the point at 1700000100 holds 1e+39, beyond what a "
                              "value can hold\n"),
              std::string::npos);
    EXPECT_EQ(out("list " + db), "id      layout\n");
    // Headers no whisper tool writes.
    const auto header = [&](std::vector<uint32_t> words) {
        wsp.clear();
        for (const uint32_t word : words) {
            big_endian(word, 4);
        }
        wsp.append(48, '\0');
        return file("odd.wsp", wsp);
    };
    const std::map<std::string, std::vector<uint32_t>> odd = {
        {"two archives of 60 s per point", {1, 120, 0, 2, 40, 60, 1, 52, 60, 1}},
        {"an archive starts inside the header", {1, 120, 0, 1, 16, 60, 2}},
        {"an archive of 4294967295 seconds per point", {1, 120, 0, 1, 28, UINT32_MAX, 2}},
    };
    for (const auto& [message, words] : odd) {
        const CommandOutcome r = ctl("import " + db + " " + header(words));
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.output.find(message), std::string::npos) << r.output;
    }
}

TEST_F(Tsdbctl, ACrashOfTheToolLeavesADumpBesideIt) {
    const std::string dump = std::string(TSDBCTL) + ".dmp";
    std::filesystem::remove(dump);
    init();
    // A shell waits for its commands; a fault signal there is a crash.
    const CommandOutcome crashed =
        testing_support::run_command("{ sleep 3 2>/dev/null | " + std::string(TSDBCTL) + " shell " +
                                     db + " & pid=$!; sleep 1; kill -SEGV $pid; wait $pid; } 2>&1");
    EXPECT_NE(crashed.status, 0);
    EXPECT_NE(crashed.output.find("Dump generated"), std::string::npos) << crashed.output;
    EXPECT_TRUE(std::filesystem::exists(dump));
    std::filesystem::remove(dump);
}

TEST_F(Tsdbctl, SeveralSeriesShareOneTimeGridAndOneChart) {
    init();
    out("create " + db + " " + continuous_series);
    out("create " + db + " " + continuous_series);
    out("create " + db + " --type enum --level 1m:100");
    out("create " + db + " --type incident --level 1:1000");
    out("put " + db + " 0 " +
        file("a.csv",
             "start,end,min,avg,max,ngood,nbad\n600,660,1,1,1,1,0\n660,720,3,3,3,3,0\n"
             "720,780,0,0,0,0,1\n"));
    // A record longer than a step counts in each step by the share it covers.
    out("put " + db + " 1 " + file("b.csv", "start,end,value\n630,750,8\n"));
    out("put " + db + " 2 " +
        file("c.csv", "start,end,mask,ngood,nbad\n600,660,1,1,0\n660,690,4,1,0\n"));
    EXPECT_EQ(out("get " + db + " 0 1 2 --from 600 --to 840 --step 120 --format csv"),
              "time,0,1,2\n"
              "600,2.5,8,5\n"
              "720,,8,\n");
    EXPECT_EQ(out("get " + db + " 0 1 --from 600 --to 720 --step 1m --utc"),
              "time (UTC)                      0             1\n"
              "1970-01-01 00:10:00             1             8\n"
              "1970-01-01 00:11:00             3             8\n");
    const JsonValue grid = JsonReader(out("get " + db +
                                          " 1 --from 600 --to 780 --step 1m "
                                          "--format json"))
                               .document();
    EXPECT_EQ(grid.fields.at("step").number, 60);
    ASSERT_EQ(grid.fields.at("rows").items.size(), 3u);
    EXPECT_EQ(grid.fields.at("rows").items[2].items[1].number, 8);
    EXPECT_EQ(ctl("get " + db + " 0 3 --from 600 --to 840").output,
              "tsdbctl get: series 3 holds incidents, which have no values to align; get it "
              "alone\n");
    EXPECT_EQ(ctl("get " + db + " 0 1 --points 10").status, 2);

    const std::string chart = out("graph " + db + " 0 1 --from 600 --to 840 -o -");
    EXPECT_EQ(occurrences(chart, "<polyline"), 2u);
    EXPECT_NE(chart.find(">series 0 and 1, 1970"), std::string::npos) << chart.substr(0, 400);
    EXPECT_NE(chart.find(">series 1</text>"), std::string::npos);
    EXPECT_EQ(ctl("graph " + db + " 0 2 -o " + dir + "/x.svg").output,
              "tsdbctl graph: series 2 holds enum data; several series share a chart of values "
              "only\n");
}

TEST_F(Tsdbctl, GraphsAreWellFormedSvgWithAPointPerInterval) {
    init();
    out("load " + db + " --series 1 --days 1 --start 1700000000");
    const std::string range = " 0 --from 1700000000 --to 1700086400 --points 50";
    size_t good = 0;
    std::istringstream rows(out("get " + db + range + " --format csv"));
    std::string row;
    std::getline(rows, row);
    while (std::getline(rows, row)) {
        good += row.substr(row.rfind(',', row.rfind(',') - 1) + 1, 1) != "0" ? 1 : 0;
    }
    EXPECT_GE(good, 45u);
    out("graph " + db + range + " -o " + dir + "/chart.svg");
    std::ifstream in(dir + "/chart.svg");
    std::stringstream svg;
    svg << in.rdbuf();
    EXPECT_EQ(checked_svg_points(svg.str()), good);

    out("load " + db + " --type enum --series 1 --days 1 --start 1700000000");
    out("graph " + db + " 1 --from 1700000000 --to 1700086400 -o " + dir + "/states.svg");
    std::ifstream states(dir + "/states.svg");
    std::stringstream enum_svg;
    enum_svg << states.rdbuf();
    checked_svg_points(enum_svg.str());
    EXPECT_NE(enum_svg.str().find(">state 0</text>"), std::string::npos);

    // An outage stays empty, values in the billions keep short labels, and a
    // range without data says so.
    out("create " + db + " --type continuous --level 1m:2000");
    std::string samples = "start,end,value\n";
    for (int m : {0, 1, 2, 3, 60, 61, 62}) {
        const int64_t t = 1700000000 + 60 * m;
        samples += std::to_string(t) + "," + std::to_string(t + 60) + "," +
                   std::to_string(1'200'000'000 + m) + "\n";
    }
    out("put " + db + " 2 " + file("outage.csv", samples));
    const auto chart = [&](const std::string& range) {
        out("graph " + db + " 2 " + range + " -o " + dir + "/outage.svg");
        std::ifstream in(dir + "/outage.svg");
        std::stringstream text;
        text << in.rdbuf();
        checked_svg_points(text.str());
        return text.str();
    };
    const std::string outage = chart("--from 1700000000 --to 1700004000");
    EXPECT_EQ(occurrences(outage, "<polyline"), 2u);
    EXPECT_NE(outage.find(" G</text>"), std::string::npos);
    EXPECT_NE(outage.find(">average</text>"), std::string::npos);
    EXPECT_NE(outage.find(">min 1.2 G  avg 1.2 G  max 1.2 G  last 1.2 G</text>"),
              std::string::npos);
    EXPECT_NE(chart("--from 1600000000 --to 1600001000").find(">no data</text>"),
              std::string::npos);
    // To standard output, with a title and a unit of one's own.
    const std::string titled = out(
        "graph " + db + " 2 --from 1700000000 --to 1700004000 --title Uplink --unit bit/s -o -");
    EXPECT_EQ(titled.rfind("<?xml", 0), 0u);
    EXPECT_NE(titled.find(">Uplink</text>"), std::string::npos);
    EXPECT_NE(titled.find(" Gbit/s</text>"), std::string::npos);

    // A state held for ten minutes is one rectangle; an incident names itself.
    out("create " + db + " --type enum --level 1m:100");
    std::string held = "start,end,mask,ngood,nbad\n";
    for (int m = 0; m < 10; ++m) {
        held += std::to_string(1700000000 + 60 * m) + "," + std::to_string(1700000060 + 60 * m) +
                ",2,1,0\n";
    }
    out("put " + db + " 3 " + file("held.csv", held));
    const std::string lanes = out("graph " + db + " 3 --from 1700000000 --to 1700000600 -o -");
    EXPECT_EQ(occurrences(lanes, "<rect"), 2u) << "the background and one lane";
    out("create " + db + " --type incident --level 1:4096");
    out("put " + db + " 4 " +
        file("incident.csv", "time,severity,message\n1700000000,3,disk full\n"));
    EXPECT_NE(out("graph " + db + " 4 --from 1699999000 --to 1700001000 -o -")
                  .find("<title>severity 3: disk full</title>"),
              std::string::npos);
}

TEST_F(Tsdbctl, ChartsOfYearsBillionsAndThousandsOfIncidentsKeepTheirShape) {
    init();
    // Four years of daily traffic in the billions.
    out("create " + db + " --type continuous --level 1d:2000");
    std::string days = "start,end,value\n";
    const int64_t first_day = 1600041600;  // 2020-09-14
    for (int d = 0; d < 1500; ++d) {
        const int64_t t = first_day + 86400 * int64_t{d};
        days += std::to_string(t) + "," + std::to_string(t + 86400) + "," +
                std::to_string(1'000'000'000 + 400'000 * (d % 1000)) + "\n";
    }
    out("put " + db + " 0 " + file("days.csv", days));
    const std::string years =
        out("graph " + db + " 0 --from 1600000000 --to 1730000000 --width 640 -o -");
    checked_svg_points(years);
    EXPECT_NE(years.find("width=\"640.0\""), std::string::npos);
    // Time labels carry the year where it changes, and thin out to fit.
    for (const char* year : {">2021</text>", ">2022</text>", ">2023</text>", ">2024</text>"}) {
        EXPECT_NE(years.find(year), std::string::npos) << year;
    }
    // Value ticks fall on round numbers.
    for (const char* tick : {">1.1 G</text>", ">1.2 G</text>", ">1.3 G</text>"}) {
        EXPECT_NE(years.find(tick), std::string::npos) << tick;
    }
    EXPECT_LE(occurrences(years, "<line"), 2u + 8u + 640u / 70u + 1u)
        << "axes, value ticks and time ticks";

    out("create " + db + " --type incident --level 1:1000000");
    std::string incidents = "time,severity,message\n";
    for (int i = 0; i < 5000; ++i) {
        incidents += std::to_string(1700000000 + 17 * i) + "," + std::to_string(i % 5) + ",event " +
                     std::to_string(i) + "\n";
    }
    out("put " + db + " 1 " + file("incidents.csv", incidents));
    const std::string marked = out("graph " + db + " 1 --from 1700000000 --to 1700086400 -o -");
    checked_svg_points(marked);
    EXPECT_EQ(occurrences(marked, "<circle"), 5000u);

    // A name ending in .png gets a PNG of the size asked for; -o=FILE is -o FILE.
    const CommandOutcome jpeg = ctl("graph " + db + " 0 -o " + dir + "/chart.jpg");
    EXPECT_EQ(jpeg.status, 2);
    EXPECT_NE(jpeg.output.find("chart.jpg: charts are .svg or .png files"), std::string::npos)
        << jpeg.output;
    EXPECT_FALSE(std::filesystem::exists(dir + "/chart.jpg"));
    out("graph " + db + " 0 --from 1600000000 --to 1730000000 --width 640 --height 200 -o=" + dir +
        "/chart.png");
    std::ifstream png(dir + "/chart.png", std::ios::binary);
    std::string header(24, '\0');
    png.read(header.data(), 24);
    EXPECT_EQ(header.substr(0, 8), "\x89PNG\r\n\x1a\n");
    const auto be32 = [&](size_t at) {
        return (uint32_t(uint8_t(header[at])) << 24) | (uint32_t(uint8_t(header[at + 1])) << 16) |
               (uint32_t(uint8_t(header[at + 2])) << 8) | uint8_t(header[at + 3]);
    };
    EXPECT_EQ(be32(16), 640u);
    EXPECT_EQ(be32(20), 200u);
}

// The README's shell examples, from its part on using a database on, run
// as they stand, in order, against this build.
TEST_F(Tsdbctl, TheReadmeExamplesRun) {
    std::ifstream readme(TSDB_README);
    std::string line;
    while (std::getline(readme, line) && !line.starts_with("## Using a database")) {
    }
    std::vector<std::string> blocks;
    for (bool in_block = false; std::getline(readme, line);) {
        if (line == "```sh" || line == "```") {
            in_block = line == "```sh";
            if (in_block) {
                blocks.emplace_back();
            }
        } else if (in_block) {
            blocks.back() += line + "\n";
        }
    }
    ASSERT_GE(blocks.size(), 3u);
    const std::string tools_dir = std::string(TSDBCTL).substr(0, std::string(TSDBCTL).rfind('/'));
    std::filesystem::create_directories(dir + "/build");
    std::filesystem::create_directory_symlink(tools_dir + "/..", dir + "/build/Release");
    for (const std::string& block : blocks) {
        file("example.sh", "set -euo pipefail\n" + block);
        const CommandOutcome ran =
            testing_support::run_command("cd '" + dir + "' && bash example.sh");
        EXPECT_EQ(ran.status, 0) << block << ran.output;
    }
}

TEST_F(Tsdbctl, LastShowsTheNewestRecordOfEachSeries) {
    init();
    out("create " + db + " " + continuous_series);
    out("create " + db + " --type enum --level 1m:100");
    out("create " + db + " --type incident --level 1:1000");
    out("put " + db + " 0 " + file("c.csv", "start,end,value\n600,660,1.5\n660,720,-2\n"));
    out("put " + db + " 2 " + file("i.csv", "time,severity,message\n700,4,\"disk, full\"\n"));
    EXPECT_EQ(out("last " + db + " --utc"),
              "id      type        newest record (times UTC)\n"
              "0       continuous  start 1970-01-01 00:11:00  end 1970-01-01 00:12:00  min -2  "
              "avg -2  max -2  ngood 1  nbad 0\n"
              "1       enum        -\n"
              "2       incident    time 1970-01-01 00:11:40  severity 4  message disk, full\n");
    const JsonValue two = JsonReader(out("last " + db + " 2 1 --format json")).document();
    ASSERT_EQ(two.items.size(), 2u);
    EXPECT_EQ(two.items[0].fields.at("newest").fields.at("message").text, "disk, full");
    EXPECT_EQ(two.items[0].fields.at("newest").fields.at("time").number, 700);
    EXPECT_TRUE(two.items[1].fields.at("newest").is_null);
    const CommandOutcome missing = ctl("last " + db + " 0 5");
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.output,
              "tsdbctl last: series 5 does not exist (tsdbctl list shows those "
              "that do)\n");
}

// Drops the time from the status lines, which differs from run to run.
std::string without_times(const std::string& text) {
    std::string out;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        out += (line.starts_with("OK ") ? "OK" : line) + "\n";
    }
    return out;
}

TEST_F(Tsdbctl, AShellAnswersEveryCommandWithAStatusLineAndKeepsItsScriptApart) {
    init();
    const std::string script = file("script",
                                    "# one process for all of these\n"
                                    "create " +
                                        std::string(continuous_series) +
                                        "\n"
                                        "  describe 7\n"  // indented lines run too
                                        "put 0\n"
                                        "start,end,value\n"
                                        "600,660,1.5\n"
                                        "660,720,2.5\n"
                                        ".\n"
                                        "get 0 --from 0 --format csv\n"
                                        "put 0\n"
                                        "start,end,value\n"
                                        "720,780,x\n"
                                        "780,840,4\n"
                                        ".\n"
                                        "last 0 --utc\n"
                                        "get 0 --colour red\n"
                                        "frobnicate\n"
                                        "\n"
                                        "metrics --format json\n"
                                        "quit\n"
                                        "delete 0\n");
    const CommandOutcome shell = testing_support::run_command(
        "{ " + std::string(TSDBCTL) + " shell " + db + " < " + script + " 2>/dev/null; }");
    EXPECT_EQ(shell.status, 1);
    const std::string json_line = "[{\"name\"";
    const size_t json_at = shell.output.find(json_line);
    ASSERT_NE(json_at, std::string::npos) << shell.output;
    EXPECT_EQ(
        without_times(shell.output.substr(0, json_at)),
        "0\nOK\n"
        "ERROR: line 3: describe: series 7 does not exist (tsdbctl list shows those that do)\n"
        "wrote 2 intervals to series 0\nOK\n"
        "start,end,min,avg,max,ngood,nbad\n"
        "600,660,1.5,1.5,1.5,1,0\n"
        "660,720,2.5,2.5,2.5,1,0\nOK\n"
        // A refused block is skipped to its end, not run as commands.
        "ERROR: line 10: put: line 2: value must be a number, not \"x\"\n"
        "id      type        newest record (times UTC)\n"
        "0       continuous  start 1970-01-01 00:11:00  end 1970-01-01 00:12:00  min 2.5  "
        "avg 2.5  max 2.5  ngood 1  nbad 0\n"
        "OK\n"
        "ERROR: line 16: get: The following argument was not expected: --colour\n"
        "ERROR: line 17: \"frobnicate\" is not a verb of the shell (help lists them)\n")
        << shell.output;
    const std::string metrics_text = shell.output.substr(json_at);
    const JsonValue metrics =
        JsonReader(metrics_text.substr(0, metrics_text.find('\n'))).document();
    std::map<std::string, double> values;
    for (const JsonValue& m : metrics.items) {
        values[m.fields.at("name").text] =
            m.fields.contains("value") ? m.fields.at("value").number : -1;
    }
    EXPECT_EQ(values.at("records/get"), 3);  // the day read, and the newest record by last
    EXPECT_TRUE(values.contains("low/phase_shift_time"));
    EXPECT_EQ(without_times(metrics_text.substr(metrics_text.find('\n') + 1)), "OK\n");
    // quit ended the script before the delete.
    EXPECT_EQ(out("list " + db), "id      layout\n0       continuous, 1609 x 60 s, 146 x 3600 s\n");
    const std::string help = out("shell " + db + " < " + file("help", "help\n"));
    EXPECT_NE(help.find("  last      Shows the newest record of series, one line each.\n"),
              std::string::npos)
        << help;
}

TEST_F(Tsdbctl, TheProcessErrorOutputStaysInAPrivateDirectoryRemovedOnEveryExit) {
    const std::string temporary = dir + "/tmp";
    mkdir(temporary.c_str(), 0700);
    const std::string with_tmpdir = "TMPDIR=" + temporary + " " + TSDBCTL + " ";
    init();
    // While a session runs, its files are in a directory only its user may enter.
    const std::string commands = dir + "/commands";
    mkfifo(commands.c_str(), 0600);
    FILE* shell = popen((with_tmpdir + "shell " + db + " < " + commands + " 2>&1").c_str(), "r");
    std::ofstream feed(commands);
    std::string listing;
    for (int i = 0; i < 200 && listing.find("tsdbctl-") == std::string::npos; ++i) {
        listing = testing_support::run_command("ls -l " + temporary).output;
        usleep(20000);
    }
    EXPECT_NE(listing.find("drwx------"), std::string::npos) << listing;
    feed << "list\n";
    feed.close();
    char said[512] = {};
    const size_t got = std::fread(said, 1, sizeof said - 1, shell);
    EXPECT_EQ(pclose(shell), 0) << std::string(said, got);
    file("not-a-database", "just text\n");
    EXPECT_EQ(testing_support::run_command(with_tmpdir + "list " + dir + "/not-a-database").status,
              1);
    EXPECT_EQ(testing_support::run_command("ls -A " + temporary).output, "");
}

TEST_F(Tsdbctl, WritesRefuseWhatTheDatabaseWouldDropOrMisplace) {
    init();
    out("create " + db + " " + continuous_series);
    const auto rows = [&] {
        const std::string csv = out("get " + db + " 0 --from 0 --to +1d --format csv");
        return std::count(csv.begin(), csv.end(), '\n') - 1;
    };
    const std::string mixed = file("mixed.csv",
                                   "start,end,min,avg,max,ngood,nbad\n"
                                   "1700000000,1700000060,1,2,3,1,0\n"
                                   "1700000060,1700000120,5,4,3,1,0\n"
                                   "1700000120,1700000100,1,1,1,1,0\n"
                                   "4354819200,4354819260,1,1,1,1,0\n");
    const CommandOutcome refused = ctl("put " + db + " 0 " + mixed);
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.output,
              "tsdbctl put: line 3: min above max; nothing written (--skip-invalid writes the "
              "rest)\n");
    EXPECT_EQ(rows(), 0);
    EXPECT_EQ(
        out("put " + db + " 0 " + mixed + " --skip-invalid"),
        "wrote 1 of 4 intervals to series 0; 3 skipped (1 ends before it starts: line 4, 1 min "
        "above max: line 3, 1 outside the times a record can hold (1970 to 2106): line 5)\n");
    EXPECT_EQ(rows(), 1);

    // Older than what the series holds: refused, or merged in as a backfill.
    const std::string older =
        file("older.csv", "start,end,value\n1699999000,1699999060,7\n1700000060,1700000120,8\n");
    const CommandOutcome misplaced = ctl("put " + db + " 0 " + older);
    EXPECT_EQ(misplaced.status, 1);
    EXPECT_EQ(misplaced.output.rfind(
                  "tsdbctl put: line 2: older than the newest record, which ends at ", 0),
              0u)
        << misplaced.output;
    EXPECT_EQ(out("put " + db + " 0 " + older + " --backfill"),
              "wrote 2 intervals to series 0 (1 of them older, merged in)\n");
    EXPECT_EQ(rows(), 3);

    // An hour ahead of the clock blocks nothing unless asked for.
    const std::string ahead = file("ahead.csv", "start,end,value\n+1h,+61m,1\n");
    EXPECT_EQ(ctl("put " + db + " 0 " + ahead).status, 1);
    EXPECT_EQ(out("put " + db + " 0 " + ahead + " --allow-future"),
              "wrote 1 interval to series 0\n");
}

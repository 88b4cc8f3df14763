// The pieces of the bridge that need no server: the labels file, the
// mapping of records to samples, the text form, the exporter's state file.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "bridge/export_state.h"
#include "bridge/mapping.h"
#include "bridge/openmetrics.h"
#include "bridge/series_names.h"
#include "tools/interval_rows.h"
#include "tools/options.h"

namespace {

using bridge::Metric;
using bridge::Row;

bridge::SeriesNames names_from(const std::string& text) {
    std::istringstream in(text);
    return bridge::SeriesNames(in, "n.labels");
}

std::string refusal(const std::string& text) {
    try {
        names_from(text);
    } catch (const tools::EBadInput& refused) {
        return refused.text();
    }
    return "";
}

TEST(SeriesNames, ReadsNamesAndLabelsAndRefusesMalformedLinesByNumber) {
    const bridge::SeriesNames names =
        names_from("# names\ncheck,name\r\n3,cpu.load,host=web1,service=cpu\n\n7,disk,\n");
    ASSERT_NE(names.of(3), nullptr);
    EXPECT_EQ(names.of(3)->name, "cpu.load");
    EXPECT_EQ(names.of(3)->labels,
              (std::vector<bridge::Label>{{"host", "web1"}, {"service", "cpu"}}));
    EXPECT_EQ(names.id_named("disk"), std::optional<uint32_t>(7));
    EXPECT_EQ(names.called(4), "4");
    EXPECT_EQ(names.of(4), nullptr);

    const std::string header = "check,name\n";
    EXPECT_EQ(refusal("id,name\n"), "n.labels line 1: the header must start with \"check,name\"");
    EXPECT_EQ(refusal(header + "3\n"), "n.labels line 2: a line needs a series id and a name");
    EXPECT_EQ(refusal(header + "x,a\n"), "n.labels line 2: \"x\" is not a series id");
    EXPECT_EQ(refusal(header + "4294967295,a\n"),
              "n.labels line 2: \"4294967295\" is not a series id");
    EXPECT_EQ(refusal(header + "1,42\n"),
              "n.labels line 2: \"42\" cannot name a series (ids are numbers)");
    EXPECT_EQ(refusal(header + "1,a,host\n"), "n.labels line 2: \"host\" is not label=value");
    EXPECT_NE(refusal(header + "1,a,1x=2\n").find("is not a label name"), std::string::npos);
    EXPECT_EQ(refusal(header + "1,a,node=x\n"),
              "n.labels line 2: the label \"node\" is given to every series already");
    EXPECT_NE(refusal(header + "1,a,__name__=x\n").find("given to every series"),
              std::string::npos);
    EXPECT_EQ(refusal(header + "1,a,h=1,h=2\n"), "n.labels line 2: the label \"h\" is given twice");
    EXPECT_EQ(refusal(header + "1,a\n1,b\n"), "n.labels line 3: series 1 is named twice");
    EXPECT_EQ(refusal(header + "1,a\n2,a\n"), "n.labels line 3: \"a\" names series 1 already");
}

TEST(Mapping, ValuesReadAsTheTableShowsThemAndRecordsWithoutGoodSamplesGiveOnlyCounts) {
    EXPECT_EQ(bridge::shown_value(0.1f), 0.1);
    EXPECT_EQ(bridge::shown_value(3.4e38f), 3.4e38);
    EXPECT_EQ(tools::double_text(bridge::shown_value(1e-7f)), "1e-07");
    const Row good{60000, 3, 1, 0.5f, 1.25f, 2.0f, 0};
    EXPECT_EQ(bridge::value_of(Metric::avg, good), std::optional<double>(1.25));
    EXPECT_EQ(bridge::value_of(Metric::bad_samples, good), std::optional<double>(1));
    const Row bad{60000, 0, 4, 0, 0, 0, 0};
    EXPECT_EQ(bridge::value_of(Metric::min, bad), std::nullopt);
    EXPECT_EQ(bridge::value_of(Metric::good_samples, bad), std::optional<double>(0));

    const bridge::SeriesNames names = names_from("check,name\n3,cpu,zone=a\"b\\c\n");
    const auto labels = bridge::labels_of(Metric::state_mask, {3, "n1", names.of(3)});
    EXPECT_EQ(bridge::series_text(labels),
              "tsdb_state_mask{check=\"3\",name=\"cpu\",node=\"n1\",zone=\"a\\\"b\\\\c\"}");
    EXPECT_TRUE(std::is_sorted(labels.begin(), labels.end(),
                               [](const auto& a, const auto& b) { return a.name < b.name; }));
}

TEST(ExportState, KeepsTheNewestTimePerSeriesAcrossRunsAndRefusesAnotherFile) {
    const std::string path = testing::TempDir() + "export-state-" + std::to_string(getpid());
    {
        bridge::ExportState state(path);
        EXPECT_EQ(state.handled(3), std::nullopt);
        state.handle(3, 120000);
        state.handle(3, 60000);
        state.handle(9, 5);
        state.save();
    }
    const bridge::ExportState again(path);
    EXPECT_EQ(again.handled(3), std::optional<int64_t>(120000));
    EXPECT_EQ(again.handled(9), std::optional<int64_t>(5));
    std::ofstream(path) << "check,name\n3,cpu\n";
    EXPECT_THROW(bridge::ExportState{path}, tools::EBadInput);
    std::filesystem::remove(path);
}

}  // namespace

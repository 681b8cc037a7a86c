#include "items/file_types.h"

#include <gtest/gtest.h>

namespace quorlan {
namespace {

TEST(FileTypeOf, SuffixesCaseAndWhereTheFolderWasRead) {
    const struct {
        const char* name;
        FolderSource source;
        const char* type;
    } cases[] = {
        {"report.DOC", FolderSource::ClusterChain, "Microsoft Word File"},
        {"report.Doc", FolderSource::ClusterChain, "File"},  // suffixes compare case-sensitively
        {"index.html", FolderSource::ClusterChain, "Web file"},  // suffix "html" without a dot
        {"xHTML", FolderSource::ClusterChain, "Web file"},
        {"archive.zip", FolderSource::DirectRegion, "Winzip File"},
        {"archive.zip", FolderSource::ClusterChain, "Compressed File"},
        {"settings.reg", FolderSource::DirectRegion, "Registry file"},
        {"settings.reg", FolderSource::ClusterChain, "Windows Registry file"},
        {"_EPORT.TXT", FolderSource::ClusterChain, "Text file"},
        {"IMG_0001.JPG", FolderSource::ClusterChain, "Image File"},
        {"song.m3u", FolderSource::ClusterChain, "Sound file"},
        {"clip.MP4", FolderSource::ClusterChain, "Video File"},
        {"main.c", FolderSource::ClusterChain, "C++ file"},
        {"table.csv", FolderSource::ClusterChain, "Comma Separated Values File"},
        {"deck.pptx", FolderSource::ClusterChain, "Microsoft Power Point File"},
        {"README", FolderSource::ClusterChain, "File"},
        {"", FolderSource::ClusterChain, "File"},
    };
    for (const auto& c : cases) EXPECT_EQ(FileTypeOf(c.name, c.source), c.type) << c.name;
}

TEST(DateTimeTexts, FatAndNtfsForms) {
    EXPECT_EQ(FatDateText(0x3A4F), "15-FEB-2009");
    EXPECT_EQ(FatDateText(0), "00-ERR-1980");
    EXPECT_EQ(FatDateText(static_cast<std::uint16_t>((13u << 5) | 1u)), "01-ERR-1980");
    EXPECT_EQ(FatTimeText(0), "00:00");
    EXPECT_EQ(FatTimeText(static_cast<std::uint16_t>((14u << 11) | (5u << 5) | 3u)), "14:05");
    EXPECT_EQ(NtfsDateText(0), "1-JAN-1601");
    EXPECT_EQ(NtfsTimeText(0), "0:0:0");
    // 2026-12-06 03:07:09 UTC.
    const std::int64_t stamp = (1796526429LL + 11644473600LL) * 10'000'000LL;
    EXPECT_EQ(NtfsDateText(stamp), "6-DEC-2026");
    EXPECT_EQ(NtfsTimeText(stamp), "3:7:9");
    EXPECT_EQ(TodayDateText().size(), 11u);
    EXPECT_EQ(NowTimeText().size(), 5u);
}

}  // namespace
}  // namespace quorlan

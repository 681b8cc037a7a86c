// The lines that report a save, as the command line prints them and the window shows them.
#include "items/save_summary.h"

#include <gtest/gtest.h>

namespace quorlan {
namespace {

using Lines = std::vector<std::string>;

SaveSummary written(std::uint64_t files, std::uint64_t bytes, std::uint64_t folders) {
    SaveSummary s;
    s.filesWritten = files;
    s.bytesWritten = bytes;
    s.foldersCreated = folders;
    return s;
}

std::vector<SaveProblem> problems(const std::string& stem, std::size_t count) {
    std::vector<SaveProblem> out;
    for (std::size_t i = 1; i <= count; ++i) out.push_back({stem + std::to_string(i), "why " + std::to_string(i)});
    return out;
}

TEST(SaveSummaryLines, SizesStepFromBytesToGibibytes) {
    const struct {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0 bytes"},
        {1023, "1023 bytes"},
        {1024, "1.0 KiB"},
        {1536, "1.5 KiB"},
        {1024 * 1024 - 1, "1024.0 KiB"},  // rounds up in print but stays below the next unit
        {1024 * 1024, "1.0 MiB"},
        {5 * 1024 * 1024 + 512 * 1024, "5.5 MiB"},
        {1024ull * 1024 * 1024, "1.00 GiB"},
        {4026531840ull, "3.75 GiB"},
        {64ull * 1024 * 1024 * 1024 * 1024, "65536.00 GiB"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SaveSummaryLines(written(3, c.bytes, 2), "/media/out"),
                  Lines{std::string("Saved 3 file(s), ") + c.text + ", and 2 new folder(s) to /media/out"})
            << c.bytes;
    }
}

TEST(SaveSummaryLines, ListsProblemsInOrderAndCapsEachList) {
    SaveSummary all = written(40, 2048, 7);
    all.skipped = 2;
    all.renamed = {{"Photos/a?b.jpg", "Photos/a_b.jpg"}, {"Docs/CON", "Docs/CON (2)"}};
    all.incomplete = problems("Music/track", 1);
    all.deletedBestEffort = 5;
    all.mayBeIncomplete = problems("Photos/gone", 2);
    all.failed = problems("Video/clip", 3);

    SaveSummary quiet = written(1, 10, 0);
    quiet.deletedBestEffort = 1;

    SaveSummary many = written(0, 0, 0);
    many.renamed = problems("r", 2);
    many.incomplete = problems("i", 1);
    many.mayBeIncomplete = problems("m", 3);
    many.failed = problems("f", 4);

    const std::string marked =
        " deleted file(s) whose bytes the disk cannot vouch for; check them before relying on them";
    const std::string bestEffort =
        ". Their content is a best effort: the file system no longer records where it was, and later writes may "
        "have reused its space.";
    const struct {
        const char* name;
        const SaveSummary& summary;
        std::size_t maxListed;
        Lines expected;
    } cases[] = {
        {"every list in full",
         all,
         kListEveryEntry,
         {"Saved 40 file(s), 2.0 KiB, and 7 new folder(s) to /out", "Skipped: 2 file(s)",
          "Saved under another name (unsafe or taken names): 2", "  Photos/a?b.jpg  ->  Photos/a_b.jpg",
          "  Docs/CON  ->  Docs/CON (2)", "Incomplete: 1 file(s)", "  Music/track1: why 1",
          "Deleted files saved: 5" + bestEffort, "May be incomplete: 2" + marked, "  Photos/gone1: why 1",
          "  Photos/gone2: why 2", "Failed: 3 file(s)", "  Video/clip1: why 1", "  Video/clip2: why 2",
          "  Video/clip3: why 3"}},
        {"only what happened",
         quiet,
         kListEveryEntry,
         {"Saved 1 file(s), 10 bytes, and 0 new folder(s) to /out", "Deleted files saved: 1" + bestEffort}},
        {"a cap of 2: a list of 2 is whole, a longer one says how many more",
         many,
         2,
         {"Saved 0 file(s), 0 bytes, and 0 new folder(s) to /out",
          "Saved under another name (unsafe or taken names): 2", "  r1  ->  why 1", "  r2  ->  why 2",
          "Incomplete: 1 file(s)", "  i1: why 1", "May be incomplete: 3" + marked, "  m1: why 1", "  m2: why 2",
          "  ... and 1 more", "Failed: 4 file(s)", "  f1: why 1", "  f2: why 2", "  ... and 2 more"}},
        {"a cap of 0 counts only",
         many,
         0,
         {"Saved 0 file(s), 0 bytes, and 0 new folder(s) to /out",
          "Saved under another name (unsafe or taken names): 2", "  ... and 2 more", "Incomplete: 1 file(s)",
          "  ... and 1 more", "May be incomplete: 3" + marked, "  ... and 3 more", "Failed: 4 file(s)",
          "  ... and 4 more"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SaveSummaryLines(c.summary, "/out", c.maxListed), c.expected) << c.name;
}

}  // namespace
}  // namespace quorlan

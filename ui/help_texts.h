// The sentences of the help strip across the bottom of the window, and the window's other fixed
// texts. Two of them quote button names in typographic single quotes.
#pragma once

#include <QString>

#include "ui/wizard_controller.h"

namespace quorlan::ui {

namespace help {
inline const QString kDiskPage = QString::fromUtf8(
    "Select the disk from left Panel from which you want to recover Data. Select the searching "
    "criteria (Standard "
    "Search or Advance Search) and Press \u2018Next\u2019 button to Proceed. Both the recovery "
    "Modes recover data using "
    "different recovery techniques in different cases of data loss.");
inline const QString kDiskPageFloppyBack = QStringLiteral(
    "Select the disk from left Panel from which you want to recover Data. Select searching criteria (Standard Search "
    "or Advance Search) and Press 'Next' button to Proceed");
inline const QString kPartitionPageNext = QString::fromUtf8(
    "Select the Partition from left Panel from which you want to recover Data. If the partition "
    "(from which you want to "
    "recover your data) is not in the list, Press \u2018Search More Partitions\u2019 button to "
    "search other Lost or "
    "Deleted Partitions. Press \u2018Next\u2019 button to start searching Data.");
inline const QString kPartitionPageBack = QStringLiteral(
    "Select the Partition from left Panel from which you want to recover Data. Press 'Search More "
    "Partitions' button to "
    "search other Lost or Deleted Partitions. Press 'Next' button to start searching Data.");
inline const QString kNoType = QStringLiteral(
    "Select the Partition Type from which you want to recover Data and press 'Next' button to start searching Data. Or "
    "to select another Disk press 'Back' button.");
inline const QString kNoPartition = QStringLiteral(
    "Select the partition to recover from left panel and then click on next button or use Searching Partition for "
    "search missing partition.");
inline const QString kSearchStarted = QStringLiteral(
    "You can stop searching Files and Folders by clicking on 'Stop Search' button. However, it is strongly recommended "
    "that you should allow the software to complete the searching Process.");
inline const QString kFileSystems =
    QStringLiteral("Press 'Next' button to Recover Data. Or to select another Partition press 'Back' button.");
inline const QString kFileSystemsNtfs = QStringLiteral(
    "For recovering data proceed with next button or if you want to recover another drive, proceed with back button "
    "and select another partition.");
inline const QString kNoFileSystem =
    QStringLiteral("No File System could be identified. Click on 'Back' button to select another Partition.");
inline const QString kResults = QStringLiteral(
    "Select Files and Folders from left Panel Directories' Tree and Click on 'Save' button in "
    "Toolbar to save recovered "
    "Files and Folders.");
// After a search that ran to its end the sentence says "left panel".
inline const QString kSearchFinished = QStringLiteral(
    "Select Files and Folders from left panel Directories' Tree and Click on 'Save' button in "
    "Toolbar to save recovered "
    "Files and Folders.");
inline const QString kPartitionSearchRunning = QStringLiteral(
    "To stop press 'Stop Searching Partition' button or Please wait for the process to be completed. It is strongly "
    "recommended that you should allow the software to complete the Process.");
inline const QString kTableCorrupt =
    QStringLiteral("Partition Table is corrupted. Software is Searching Partitions...");
// Its lines are joined by carriage return, carriage return, line feed.
inline const QString kOnlineHelp = QStringLiteral(
    "____________________ ONLINE HELP _____________________________\r\r\n\r\r\n"
    "   This Disk does not contain any Partition\r\r\n"
    "   Click on Search More Partition to search Partition (OR)\r\r\n"
    "   Click on Back button to select another Hard Disk\r\r\n"
    "______________________________________________________________");
inline const QString kPleaseWait = QStringLiteral("Please wait...");
}  // namespace help

[[nodiscard]] inline QString HelpText(Help h) {
    switch (h) {
        case Help::DiskPage: return help::kDiskPage;
        case Help::DiskPageFloppyBack: return help::kDiskPageFloppyBack;
        case Help::PartitionNext: return help::kPartitionPageNext;
        case Help::PartitionBack: return help::kPartitionPageBack;
        case Help::NoType: return help::kNoType;
        case Help::NoPartition: return help::kNoPartition;
        case Help::SearchStarted: return help::kSearchStarted;
        case Help::FileSystems: return help::kFileSystems;
        case Help::FileSystemsNtfs: return help::kFileSystemsNtfs;
        case Help::NoFileSystem: return help::kNoFileSystem;
        case Help::Results: return help::kResults;
        case Help::ResultsFinished: return help::kSearchFinished;
        case Help::PartitionSearchRunning: return help::kPartitionSearchRunning;
        case Help::TableCorrupt: return help::kTableCorrupt;
        case Help::OnlineHelp: return help::kOnlineHelp;
        case Help::PleaseWait: return help::kPleaseWait;
    }
    return {};
}

}  // namespace quorlan::ui

#include "cli/print_tree.h"

#include <iostream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/json.h"
#include "items/result_tree.h"
#include "search/folder_listing.h"

namespace quorlan::cli {

namespace {

// Lists every folder of the result as the results page lists it, parents before children, so
// that each folder has its directory-entry name before its children are read, and hands each
// folder's rows to visit as it goes (a large stick lists tens of thousands of files: none of them
// is kept longer than its folder).
template <typename Visit>
void listEverything(RecoveryState& state, SectorReader& reader, Visit&& visit) {
    ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) {
        visit(item, ListFolderRows(state, reader, item, FolderListing::Select));
    });
}

}  // namespace

void printTreeText(RecoveryState& state, SectorReader& reader, bool listFolders, bool withFiles) {
    const TreeItem* root = state.model.tree.root();
    auto printFolder = [&](const TreeItem* item) -> std::string {
        if (item == root) {
            std::cout << "Root\n";
            return "  ";
        }
        std::size_t depth = 0;
        for (const TreeItem* i = item; i != root && i != nullptr; i = i->parent) ++depth;
        const std::string indent(depth * 2, ' ');
        const FolderNode* node = state.model.FindFolderNode(item);
        std::cout << indent << item->text << "/" << (node != nullptr && node->deleted ? "  (deleted)" : "") << "\n";
        return indent + "  ";
    };
    if (!listFolders) {
        ResultTree::ForEach(state.model.tree.root(), [&](TreeItem* item) { (void)printFolder(item); });
        return;
    }
    listEverything(state, reader, [&](TreeItem* item, const std::vector<ListedRow>& rows) {
        const std::string indent = printFolder(item);
        if (!withFiles) return;
        for (const ListedRow& r : rows) {
            if (r.isFolder) continue;
            std::cout << indent << r.name << "  " << r.size << " bytes  " << r.date << " " << r.time << "  " << r.type
                      << (r.deleted ? (r.mayBeIncomplete ? "  (deleted, may be incomplete)" : "  (deleted)") : "")
                      << "\n";
        }
    });
}

void printTreeJson(RecoveryState& state, SectorReader& reader, bool listFolders, bool withFiles) {
    auto member = [](std::string& out, std::string_view key) {
        appendJsonString(out, key);
        out += ':';
    };
    std::string out;
    auto writeFolders = [&] {
        out += '{';
        member(out, "folders");
        out += '[';
        bool first = true;
        TreeItem* root = state.model.tree.root();
        ResultTree::ForEach(root, [&](TreeItem* item) {
            if (item == root) return;
            const FolderNode* node = state.model.FindFolderNode(item);
            out += first ? "{" : ",{";
            first = false;
            member(out, "path");
            appendJsonString(out, ResultTree::GetItemPath(item, "/"));
            out += ',';
            member(out, "deleted");
            out += node != nullptr && node->deleted ? "true" : "false";
            out += '}';
        });
        out += "],";
        member(out, "files");
        out += '[';
    };
    auto flush = [](std::string& text) {
        std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
        text.clear();
    };
    // NTFS folders carry their names, so the folders go first and the files stream out behind
    // them through one reused buffer. FAT sub-folders are named by listing their parents, so
    // there the files wait in memory until every folder has its name.
    const bool stream = !state.params.isFat();
    if (stream) writeFolders();
    std::string waiting;
    std::string& files = stream ? out : waiting;
    bool firstFile = true;
    constexpr std::size_t kFlushBytes = 256 * 1024;
    if (listFolders) {
        listEverything(state, reader, [&](TreeItem* item, const std::vector<ListedRow>& rows) {
            if (!withFiles) return;
            std::string folderPath;
            bool pathKnown = false;
            for (const ListedRow& r : rows) {
                if (r.isFolder) continue;
                if (!pathKnown) {
                    folderPath = ResultTree::GetItemPath(item, "/");
                    pathKnown = true;
                }
                files += firstFile ? "{" : ",{";
                firstFile = false;
                member(files, "path");
                appendJsonString(files, ResultTree::FilePath(folderPath, r.name));
                files += ',';
                member(files, "size");
                files += std::to_string(r.size);
                files += ',';
                member(files, "deleted");
                files += r.deleted ? "true" : "false";
                files += ',';
                member(files, "mayBeIncomplete");
                files += r.mayBeIncomplete ? "true" : "false";
                files += ',';
                member(files, "type");
                appendJsonString(files, r.type);
                files += ',';
                member(files, "date");
                appendJsonString(files, r.date);
                files += ',';
                member(files, "time");
                appendJsonString(files, r.time);
                files += '}';
            }
            if (stream && out.size() >= kFlushBytes) flush(out);
        });
    }
    if (!stream) {
        writeFolders();
        flush(out);
        flush(waiting);
    }
    out += "]}\n";
    flush(out);
}

}  // namespace quorlan::cli

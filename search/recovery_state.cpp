#include "search/recovery_state.h"

namespace quorlan {

const std::vector<int>& RecoveryState::NtfsFilesOf(std::uint32_t parent) {
    const RecordTable& files = tables.ntfsEntryTable;
    if (m_ntfsIndexedRows != files.RowCount()) {
        m_ntfsFilesByParent.clear();
        const int parentColumn = files.ColumnIndex("parent");
        for (int r = 0; r < files.RowCount(); ++r) m_ntfsFilesByParent[files.GetU32(r, parentColumn)].push_back(r);
        m_ntfsIndexedRows = files.RowCount();
    }
    static const std::vector<int> kNone;
    const auto it = m_ntfsFilesByParent.find(parent);
    return it == m_ntfsFilesByParent.end() ? kNone : it->second;
}

}  // namespace quorlan

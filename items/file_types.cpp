#include "items/file_types.h"

#include <array>
#include <cctype>
#include <ctime>
#include <vector>

namespace quorlan {

namespace {

struct TypeRow {
    const char* description;
    const char* chainDescription;  // differs for folders read through a cluster chain
    std::vector<std::string_view> suffixes;
};

const std::vector<TypeRow>& typeTable() {
    static const std::vector<TypeRow> rows = {
        {"Microsoft Word File", nullptr, {".DOC", ".doc", ".docx", ".DOCX"}},
        {"Microsoft Power Point File", nullptr, {".PPT", ".ppt", ".PPTX", ".pptx", ".PPSX", ".ppsx", ".PPS", ".pps"}},
        {"Microsoft Excel File", nullptr, {".XLS", ".xls", ".XLSX", ".xlsx"}},
        {"Icon file", nullptr, {".ICO", ".ico"}},
        {"PDF file", nullptr, {".PDF", ".pdf"}},
        {"Executable file", nullptr, {".EXE", ".exe", ".bat", ".BAT", ".com", ".COM"}},
        {"Font file", nullptr, {".TTF", ".ttf", ".FON", ".fon", ".FNT", ".fnt", ".OTF", ".otf"}},
        {"Image File", nullptr, {".PS",   ".ps",   ".AI",  ".ai",  ".BMP", ".bmp", ".GIF", ".gif", ".PNG",
                                 ".png",  ".PSD",  ".psd", ".PSP", ".psp", ".THM", ".thm", ".TIF", ".tif",
                                 ".DRW",  ".drw",  ".DXF", ".dxf", ".EPS", ".eps", ".SVG", ".svg", ".JPG",
                                 ".jpg",  ".MNG",  ".mng", ".PCT", ".pct", ".JPEG", ".jpeg"}},
        {"Winzip File", "Compressed File", {".ZIP", ".zip", ".RAR", ".rar", ".7Z", ".7z", ".DEB", ".deb", ".GZ",
                                            ".gz", ".PKG", ".pkg", ".SEA", ".sea", ".SIT", ".sit", ".SITX", ".sitx"}},
        {"Web file", nullptr, {".htm", ".HTM", "HTML", "html", ".ASP", ".asp", ".CSS", ".css", ".JS", ".js", ".JSP",
                               ".jsp", ".PHP", ".php", ".XHTML", "xhtml"}},
        {"Help File", nullptr, {".chm", ".CHM"}},
        {"Registry file", "Windows Registry file", {".REG", ".reg"}},
        {"Sound file", nullptr, {".WAV", ".wav", ".AU", ".au", ".MP3", ".mp3", ".M4A", ".m4a", ".MID", ".mid",
                                 ".MIDI", ".midi", ".MPA", ".mpa", ".WMA", ".wma", ".AMR", ".amr", ".RA", ".ra",
                                 ".RAM", ".ram", ".M3U", ".m3u", ".IFF", ".iff", ".AIF", ".aif", ".AAC", ".aac"}},
        {"Video File", nullptr, {".AVI", ".avi", ".MOV", ".mov", ".MKV", ".mkv", ".FLV", ".flv", ".ASX", ".asx",
                                 ".ASF", ".asf", ".3GP", ".3gp", ".3G2", ".3g2", ".MP4", ".mp4", ".MPG", ".mpg",
                                 ".SWF", ".swf", ".VOB", ".vob", ".WMV", ".wmv", ".QT", ".qt", ".RM", ".rm"}},
        {"Backup File", nullptr, {".BAK", ".bak", ".BUP", ".bup", ".GHO", ".gho", ".OLD", ".old", ".ORI", ".ori"}},
        {"C++ file", nullptr, {".CPP", ".cpp", ".C", ".c"}},
        {"Scripting File", nullptr, {".VB", ".vb", ".WS", ".ws"}},
        {"System File", nullptr, {".LNK", ".lnk", ".SYS", ".sys"}},
        {"Disk File", nullptr, {".ISO", ".iso", ".VCD", ".vcd"}},
        {"Database File", nullptr, {".MDBX", ".mdbx", ".SQL", ".sql", ".MDB", ".mdb", ".DB", ".db"}},
        {"Java Source Code File", nullptr, {".JAVA", ".java"}},
        {"Program Information File", nullptr, {".PIF", ".pif"}},
        {"BitTorrent File", nullptr, {".TORRENT", ".torrent"}},
        {"Perl Script File", nullptr, {".PL", ".pl"}},
        {"Temporary File", nullptr, {".TMP", ".tmp"}},
        {"Header file", nullptr, {".H", ".h"}},
        {"Windows Installer Package File", nullptr, {".MSI", ".msi"}},
        {"Rich Text Format File", nullptr, {".RTF", ".rtf"}},
        {"Mail Message File", nullptr, {".MSG", ".msg"}},
        {"Comma Separated Values File", nullptr, {".CSV", ".csv"}},
        {"Data File", nullptr, {".DAT", ".dat"}},
        {"Dynamic Link Library File", nullptr, {".DLL", ".dll"}},
        {"XML File", nullptr, {".XML", ".xml"}},
        {"Microsoft Works Spreadsheet File", nullptr, {".WKS", ".wks"}},
        {"Text file", nullptr, {".TXT", ".txt", ".LOG", ".log"}},
    };
    return rows;
}

constexpr std::array<const char*, 13> kMonths = {"ERR", "JAN", "FEB", "MAR", "APR", "MAY", "JUN",
                                                 "JUL", "AUG", "SEP", "OCT", "NOV", "DEC"};

const char* monthName(unsigned month) { return month >= 1 && month <= 12 ? kMonths[month] : kMonths[0]; }

std::string twoDigits(unsigned v) {
    return v < 10 ? "0" + std::to_string(v) : std::to_string(v);
}

struct CivilTime {
    std::int64_t year;
    unsigned month, day, hour, minute, second;
};

// Days since 1970-01-01 to a civil date (proleptic Gregorian).
void civilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const auto doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2 ? 1 : 0;
}

CivilTime ntfsCivil(std::int64_t stamp) {
    // 100-ns units since 1601-01-01; 11644473600 seconds lie between 1601 and 1970.
    std::int64_t seconds = stamp / 10'000'000;
    if (stamp % 10'000'000 < 0) --seconds;
    seconds -= 11'644'473'600LL;
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    CivilTime t{};
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<unsigned>(rest / 3600);
    t.minute = static_cast<unsigned>(rest % 3600 / 60);
    t.second = static_cast<unsigned>(rest % 60);
    return t;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string FileTypeOf(std::string_view name, FolderSource source) {
    for (const TypeRow& row : typeTable()) {
        for (const std::string_view suffix : row.suffixes) {
            if (name.ends_with(suffix)) {
                return source == FolderSource::ClusterChain && row.chainDescription != nullptr ? row.chainDescription
                                                                                             : row.description;
            }
        }
    }
    return "File";
}

std::string FatDateText(std::uint16_t d) {
    const unsigned day = d & 0x1Fu;
    const unsigned month = (d >> 5) & 0x0Fu;
    const unsigned year = (d >> 9) + 1980u;
    return twoDigits(day) + "-" + monthName(month) + "-" + std::to_string(year);
}

std::string FatTimeText(std::uint16_t t) {
    return twoDigits(static_cast<unsigned>(t >> 11)) + ":" + twoDigits((t >> 5) & 0x3Fu);
}

std::string NtfsDateText(std::int64_t stamp) {
    const CivilTime t = ntfsCivil(stamp);
    return std::to_string(t.day) + "-" + monthName(t.month) + "-" + std::to_string(t.year);
}

std::string NtfsTimeText(std::int64_t stamp) {
    const CivilTime t = ntfsCivil(stamp);
    return std::to_string(t.hour) + ":" + std::to_string(t.minute) + ":" + std::to_string(t.second);
}

std::string TodayDateText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%d-%b-%Y", &local);
    return upper(buffer);
}

std::string NowTimeText() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[16];
    std::strftime(buffer, sizeof buffer, "%H:%M", &local);
    return buffer;
}

}  // namespace quorlan

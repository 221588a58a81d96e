#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "common/event_pump.h"
#include "headers/header_file_reader.h"
#include "headers/header_table.h"
#include "headers/scan_hooks.h"

namespace quillfin::headers {

// The poster's name from a From header, as a piece of it. Throws common::RunError (invalid
// argument) when the first "<" stands too close to the start for the cut.
std::string_view ParsePoster(std::string_view text);

// "mm-dd-yyyy" from a Date header; the text unchanged when no date is recognised.
std::string ParseOverviewDate(std::string_view text);
// The piece of a Date header that ParseOverviewDate looks at.
std::string_view OverviewDatePart(std::string_view text);

// Splits an XOVER burst into overview records and hands each to the header table.
class OverviewParser {
  public:
    // A field is cut here: the header file must read back every text it stores, with room
    // for the join key's suffix. Real fields are a few hundred bytes.
    static constexpr std::size_t kMaxField = std::size_t(1) << 22;
    static_assert(kMaxField + 64 < HeaderFileReader::kMaxLine);

    OverviewParser(HeaderTable& table, common::EventPump& pump);

    void SetListUpdater(HeaderListUpdater* updater) { updater_ = updater; }

    // Parses one whole burst: status line, overview lines, "." line. The parse lets events
    // run, so the text must be one that they cannot change (a temporary is fine).
    void parse_xoverdata(std::string_view XoverBuffer);
    // One overview line.
    void xover_proccess(std::string_view line);

    // Overview lines handed to xover_proccess since construction.
    std::int64_t LinesParsed() const { return lines_parsed_; }

  private:
    void LogError(const char* routine, int number, const std::string& description);
    // The date column's text for a Date field; valid until the next call.
    std::string_view DateOf(std::string_view field);

    HeaderTable& table_;
    common::EventPump& pump_;
    HeaderListUpdater* updater_ = nullptr;
    // Records fall on a few days, often interleaved: remember the date pieces seen and their
    // results rather than parse the date on every line.
    struct DateResult {
        std::string formatted;
        bool recognised = false;
    };
    struct PieceHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view piece) const {
            return std::hash<std::string_view>{}(piece);
        }
    };
    // Past this many pieces (hostile or odd dates) the memory starts again.
    static constexpr std::size_t kMaxDates = 1024;
    std::unordered_map<std::string, DateResult, PieceHash, std::equal_to<>> dates_;
    std::int64_t lines_parsed_ = 0;
};

}  // namespace quillfin::headers

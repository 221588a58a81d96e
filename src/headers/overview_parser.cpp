#include "headers/overview_parser.h"

#include <algorithm>
#include <new>

#include "common/dates.h"
#include "common/heap.h"
#include "common/run_error.h"
#include "common/text.h"

namespace quillfin::headers {

std::string_view ParsePoster(std::string_view text) {
    std::size_t lt = text.find('<');
    if (lt != std::string_view::npos) {
        if (text.find('>') == std::string_view::npos) return text;
        // Keep what stands before the closing quote and the blank before "<".
        if (lt < 2) throw common::InvalidArgument();
        std::string_view result = text.substr(0, lt - 2);
        // A quote anywhere costs the first character, as the opening quote would.
        if (result.find('"') != std::string_view::npos) result.remove_prefix(1);
        return result;
    }
    std::size_t open = text.find('(');
    if (open != std::string_view::npos && text.find(')') != std::string_view::npos) {
        std::string_view after = text.substr(open + 1);
        if (after.empty()) throw common::InvalidArgument();
        return after.substr(0, after.size() - 1);
    }
    return text;
}

std::string_view OverviewDatePart(std::string_view text) {
    if (text.size() >= 4 && text[3] == ',') {
        // A weekday and a comma stand first.
        std::string_view head = text.substr(0, 16);
        return head.size() > 5 ? head.substr(5) : std::string_view{};
    }
    return text.substr(0, 11);
}

std::string ParseOverviewDate(std::string_view text) {
    if (auto date = common::RecogniseDate(OverviewDatePart(text)))
        return common::FormatMonthDayYear(*date);
    return std::string(text);
}

OverviewParser::OverviewParser(HeaderTable& table, common::EventPump& pump)
    : table_(table), pump_(pump) {}

void OverviewParser::LogError(const char* routine, int number, const std::string& description) {
    table_.Log().LogEvent(common::FormatRunError(routine, number, description), true);
}

void OverviewParser::parse_xoverdata(std::string_view XoverBuffer) {
    ScanHooks* hooks = table_.Hooks();
    // Walk the buffer by offsets; cutting the rest of the text line by line would cost the
    // square of the burst's length.
    std::string_view rest(XoverBuffer);
    std::size_t first_end = rest.find("\r\n");
    rest = first_end == std::string_view::npos ? std::string_view{} : rest.substr(first_end + 2);
    int since_pump = 0;
    while (!rest.empty()) {
        if (rest == ".") break;
        std::size_t end = rest.find("\r\n");
        if (end == std::string_view::npos) break;
        std::string_view line = rest.substr(0, end);
        if (line.empty() || line == ".") break;
        try {
            xover_proccess(line);
        } catch (const std::bad_alloc&) {
            LogError("parse_xoverdata_error", 7, "Out of memory");
        } catch (const std::exception& e) {
            LogError("parse_xoverdata_error", common::kInvalidArgument, e.what());
        }
        if (++since_pump == 6) {
            since_pump = 0;
            pump_.PumpIfDue();
            common::AdviseHeapGrowth();
            if (hooks != nullptr) hooks->TouchScanActivity();
        }
        rest = rest.substr(end + 2);
    }
    if (hooks != nullptr) {
        std::string burst_end = hooks->BurstEnd();
        if (common::NumericValue(burst_end) < double(hooks->GroupLast()))
            hooks->ReportProgress(table_.CurrentGroup, burst_end, false);
    }
    if (updater_ != nullptr) updater_->UpdateHeaderList();
    if (hooks != nullptr) hooks->AfterBurst();
}

std::string_view OverviewParser::DateOf(std::string_view field) {
    const std::string_view piece = OverviewDatePart(field);
    auto found = dates_.find(piece);
    if (found == dates_.end()) {
        if (dates_.size() >= kMaxDates) dates_.clear();
        DateResult result;
        if (auto recognised = common::RecogniseDate(piece)) {
            result.formatted = common::FormatMonthDayYear(*recognised);
            result.recognised = true;
        }
        found = dates_.emplace(std::string(piece), std::move(result)).first;
    }
    return found->second.recognised ? std::string_view(found->second.formatted) : field;
}

void OverviewParser::xover_proccess(std::string_view line) {
    if (line.find('\t') == std::string_view::npos) return;
    ++lines_parsed_;
    std::string_view fields[8];
    std::string_view rest = line;
    ScanHooks* hooks = table_.Hooks();
    std::string_view from;
    std::string_view date;
    for (int i = 0; i < 8; ++i) {
        std::size_t tab = rest.find('\t');
        // A field with no TAB after it stays empty and the rest is not shortened, so every
        // later field stays empty too (a silent invalid-argument error).
        if (tab != std::string_view::npos) {
            fields[i] = rest.substr(0, std::min(tab, kMaxField));
            rest = rest.substr(tab + 1);
        }
        if (i == 0 && hooks != nullptr)
            hooks->ReportProgress(table_.CurrentGroup, std::string(fields[0]), false);
        if (i == 2) {
            try {
                from = ParsePoster(fields[2]);
            } catch (const common::RunError& e) {
                from = fields[2];
                if (e.number != common::kInvalidArgument)
                    LogError("xover_proccess", e.number, e.what());
            }
        }
        if (i == 3) date = DateOf(fields[3]);
    }
    table_.add_articleheader(from, fields[1], fields[0], fields[7], fields[6], date, fields[4]);
}

}  // namespace quillfin::headers

// The faults of a list file (the sites, the scenarios of a batch), gathered
// line by line so that one reading reports them all, each with its line,
// before anything runs.
#pragma once

#include <string>
#include <string_view>
#include <utility>

#include "io/read_errors.h"
#include "model/errors.h"
#include "model/notifier.h"

namespace kelmar::batch {

// The most faults of a list shown at once; the rest are counted.
inline constexpr int SHOWN_LIST_ERRORS = 20;

// An error whose message already names its place in the list.
class LocatedError : public KelmarError {
public:
    using KelmarError::KelmarError;
};

class ListFaults {
public:
    // `kind` names the list in the summary ("site list", "scenario list").
    ListFaults(std::string kind, std::string fileName) : Kind(std::move(kind)), FileName(std::move(fileName)) {}

    // Runs `action`; a KelmarError it raises becomes a fault of `line`.
    template <typename Action>
    void AtLine(int line, Action&& action) {
        try {
            action();
        } catch (const LocatedError& e) {
            Add(e.what());
        } catch (const KelmarError& e) {
            Add(WithLocationLine(e.what(), FileLineLocation(FileName, line)));
        }
    }

    void Add(const std::string& message) {
        if (Count++ < SHOWN_LIST_ERRORS) Text.append(Text.empty() ? "" : "\n").append(message);
    }

    // Raises one KelmarError with every fault shown, if there was any.
    void ThrowIfAny() const {
        if (Count == 0) return;
        std::string all = "The " + Kind + " \"" + FileName + "\" has " + std::to_string(Count) +
                          (Count == 1 ? " fault" : " faults") + "; no site was run.\n" + Text;
        if (Count > SHOWN_LIST_ERRORS) all += "\n... and " + std::to_string(Count - SHOWN_LIST_ERRORS) + " more";
        throw KelmarError(all);
    }

private:
    std::string Kind;
    std::string FileName;
    std::string Text;
    int Count = 0;
};

// Whether `text` is well-formed UTF-8: no stray continuation byte, no
// overlong form, no surrogate, nothing beyond U+10FFFF.
bool IsUtf8(std::string_view text);

// List text (UTF-8) for a message: control bytes and the bytes of malformed
// UTF-8 shown as \xHH, so that a message is never cut at a NUL and shows
// what the list holds.
std::string ShownListText(std::string_view text);

// A number of a list, by the rule of the data files (ParseReal); a text
// that is none is shown as the list holds it (UTF-8), not as a data file's
// code page would read it.
double ListReal(std::string_view text);

// Raises KelmarError for a header field that holds a carriage return: the
// list's lines end with a carriage return alone (as old Mac programs save
// text), so that the header runs into the rows. Called before a column is
// said to be unknown, which would hide why.
void RefuseBareCarriageReturn(std::string_view headerField);

// Refuses a label of the outputs (a site id, a scenario's name; `what` says
// which) that would break them: a control character (a line end, a NUL)
// breaks the tables and the netCDF file; text that is not UTF-8 (a list
// saved in Windows-1251) makes every output unreadable to UTF-8 readers.
void CheckListLabel(std::string_view text, const std::string& what);

// Raises KelmarError, at line 1 of the list, when `head` (the list's first
// bytes) looks like UTF-16 text. The lists are UTF-8.
void RefuseUtf16List(std::string_view head, const std::string& kind, const std::string& fileName);

// Raises the not-found warning of a missing list as an error.
class RefusingNotifier : public Notifier {
public:
    // Its only warnings are ReadDataFile's: the file is missing or a folder.
    void Warning(const std::string& text) override { throw MissingFileError(text); }
};

}  // namespace kelmar::batch

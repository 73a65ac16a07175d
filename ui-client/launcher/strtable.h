// The table of user-interface strings: 1052 fixed rows, each an English source text and a key, shared
// with the rest of the client. Texts are translated when loaded, through the QTranslator installed by
// start-up from the embedded translations resource (":/<code>.qm", context "global").
//
// Call InitStrTable() once on the main thread before any LoadStr(); afterwards any thread may read.
#ifndef CORVANE_UI_CLIENT_LAUNCHER_STRTABLE_H_
#define CORVANE_UI_CLIENT_LAUNCHER_STRTABLE_H_

#include <QString>

namespace StrTable {

// Number of rows; row numbers run from 0 to kRowCount - 1 and never change.
constexpr int kRowCount = 1052;

// Rows the launcher shows.
constexpr int kRowEnvPreparationDone = 520;  // "%1 is ready."
constexpr int kRowEnvPreparing = 536;        // "%1 is initializing..."
constexpr int kRowAppName = 839;             // "Corvane Client"

// Fills the table (all rows) and registers the translations resource ("texts") in case the static
// linker dropped its load-time registration. Calling it again changes nothing.
void InitStrTable();

// The translated text of row `index` (English when no translator has it), with every backslash + "n"
// turned into a line feed, then every backslash + "t" into a tab. `index` is not checked: pass a
// row number from 0 to kRowCount - 1, after InitStrTable().
QString LoadStr(int index);

// The first row whose key equals `key` without regard to ASCII case; -1 when none does.
int LookupStrID(QString key);

}  // namespace StrTable

#endif  // CORVANE_UI_CLIENT_LAUNCHER_STRTABLE_H_

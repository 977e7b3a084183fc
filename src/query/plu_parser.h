// The load step of the PLU commands (1 full load, 2 update): reads the
// command's data file into the context's PLUList and MessageList by the field
// configuration.
//
// The file is text: a UTF-8 or UTF-16 byte-order mark selects that encoding,
// any other file is ANSI text, or DOS (OEM) text when ImportEncodingWindows
// is off. CR, LF and CR LF end a line. Each line is one article, or in the
// record-marker layouts an article ("A") or the ingredient text of an
// earlier article ("I"); see plu_fill.h. Dates in import files are read by
// the system short date format (see platform/system_formats.h: "dd.mm.yyyy"
// unless TARVO_SHORT_DATE_FORMAT says otherwise), decimals by the system
// decimal separator, with "." accepted as well.
#ifndef TARVO_QUERY_PLU_PARSER_H_
#define TARVO_QUERY_PLU_PARSER_H_

#include "query/step_context.h"
#include "settings/workservicesettings.h"

namespace tarvo {

// Loads the context's DataFileName by `settings`, the settings in force for
// this load. True when at least one PLU was loaded; scale state 0 is then
// set. The lists are emptied first. A bad line is logged with its number
// ("Bad PLU string. String No: n.", level 5) and skipped, and so is a line
// whose PLU lacks its number, name or price. An empty file or one without a
// valid PLU gives false with scale state 4. Throws when the data file cannot
// be read (scale state 3), or when the driver fails; the worker handles that.
bool LoadPLUFile(const StepContext& context, const MSettingsValues& settings);

}  // namespace tarvo

#endif  // TARVO_QUERY_PLU_PARSER_H_

// Writing the XML settings document (BiosSettingsWriteToFile with format 0): an export of the configuration
// for other tools, built element by element in the platform's XML DOM document and saved by it.
//
//   <BiosConfig>
//     <Language Name="English"><STR ID="0">English</STR>...</Language>        one per string table
//     <Setting Menu.0="12" Menu.1="13" Type="enum" SelectedIndex="1">          one per other record, "ESCD"
//       <Name StrID="14">Serial Port A</Name>                                  left out
//       <Value StrID="15" Index="0">Device hidden</Value>...
//     </Setting>
//   </BiosConfig>
//
// Numbers are decimal; string IDs, indexes and menu IDs as 16-bit signed values (an empty entry is -1),
// integer values and bounds as 32-bit signed ones. Other types: "alpha", "password" and "binary" carry a
// Value with MaxSize (binary without text), "int", "date" and "time" a Value with Min and Max, "ext_enum" and
// "ext_int" their SubName elements, "orderedlist" a Size and one Value per element.
#pragma once

#include "settings_model.h"

namespace zmrmc {

// Builds the document and saves it to `path` (ANSI). Initialises COM on the calling thread for the time it
// needs it. False when the model has no language record, the DOM document cannot be created, a node cannot
// be built (out of memory, or a text XML cannot carry), or the document cannot be saved. The caller holds the
// model's lock.
bool WriteSettingsXml(SettingsModel& model, const char* path);

}  // namespace zmrmc

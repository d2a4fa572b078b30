#include "app/file_dialogs.h"

namespace kelmar {

const FileDialogSpec& DialogSpec(FileDialog dialog) {
    // "Открыть файл" is Russian for "Open file".
    static const FileDialogSpec specs[] = {
        {false, "\u041e\u0442\u043a\u0440\u044b\u0442\u044c \u0444\u0430\u0439\u043b", "sit files|*.sit",
         "soil.sit", ""},
        {false, "\u041e\u0442\u043a\u0440\u044b\u0442\u044c \u0444\u0430\u0439\u043b", "WED files|*.wed",
         "weather.wed", ""},
        {false, "Load weather file", "cld files|*.cld", "climat.cld", ""},
        {false, "Load file", "cld files|*.cld", "climat.cld", ""},
        {false, "Load file", "wed files|*.wed|All files|*.*", "weather.wed", ""},
        {true, "Save results", "Modeling results|*.csv", "results", ".csv"},
        {true, "Save weather data", "Weather data|*.wed", "", "wed"},
        {true, "Save climatological", "Climatological files|*.cld", "", "cld"},
        {true, "Save soil parameters", "Soil parameters|*.sit", "", "sit"},
        {false, "Site list of the batch", "Site lists|*.csv|All files|*.*", "", "csv"},
    };
    return specs[static_cast<int>(dialog)];
}

}  // namespace kelmar

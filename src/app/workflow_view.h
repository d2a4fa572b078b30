// What the commands need from whoever drives them: the window, or the
// command-line tool in place of the window.
#pragma once

#include <optional>
#include <string>

#include "app/file_dialogs.h"
#include "model/notifier.h"

namespace kelmar {

class WorkflowView : public Notifier {
public:
    // The file chosen in the dialog, or nothing when it was cancelled.
    virtual std::optional<std::string> AskFile(FileDialog dialog) = 0;
    // The site whose record to read from a tidy weather table (.csv) that
    // holds several; empty: its only site.
    virtual std::string WeatherSiteId() const { return {}; }

    // What the readers change in the window besides the records: after a
    // site file, the forest-type list and the ground-water and permafrost
    // choices follow the parameters read; after a climatology file read with
    // weather from file, the residual-deviation column of the climatology
    // grid is hidden; a weather file was found (the window keeps the folder
    // the person works in: its dialogs open in the folder of the last file
    // chosen).
    virtual void SiteFileRead() {}
    virtual void ClimatologyFileRead() {}
    virtual void WeatherFileOpened() {}

    // Refill the site grid and the climatology grid from the records.
    virtual void ShowSiteParams() {}
    virtual void ShowClimatology() {}
};

}  // namespace kelmar

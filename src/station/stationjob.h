#pragma once

#include "engine/flash/flashrun.h"
#include "jobs/jobcount.h"
#include "station/stationoptions.h"

#include <memory>

// A job's part in a shift, alike in both programs: its stamp on every record, its count
// reserved before each board's port opens and settled as the board ends, its version
// remembered as the highest this station ran.
class StationJob
{
public:
    // Takes the options' job into `plan`; nothing without one. False, with why, when the
    // station's memory of its jobs cannot be written.
    bool begin(const StationOptions &options, FlashRun::Plan *plan, QString *why);

    bool counted() const { return m_count != nullptr; }
    int remaining() const { return m_count ? m_count->remaining() : -1; }
    // "job line-b v7 (key 9CE3C33F40AC0C): 412 of 500 left", or without a count; "" none.
    QString text() const;

private:
    std::optional<Approval> m_approval;
    std::shared_ptr<JobCount> m_count;
};

// Reads stored curves back over a time span (or the whole recording) through the store's
// cursors and reduces them per pixel column. Runs on the calling thread, which must not be the
// store's own: the cursors read through connections of that thread, all closed before it returns.
#pragma once

#include "trendreduction.h"

#include <functional>

class CurveDataDB;

class RecordingReducer
{
public:
    // Asked now and then while rows are read; true ends the read early (incomplete result).
    using AbandonCheck = std::function<bool()>;

    explicit RecordingReducer(CurveDataDB *store);

    TrendReduction read(const TrendRequest &request, const AbandonCheck &abandoned = {});

private:
    CurveDataDB *store;
};

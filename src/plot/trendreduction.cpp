#include "trendreduction.h"

bool TrendReduction::isEmpty() const
{
    for (const CurveReduction &curve : curves)
        if (curve.samples > 0)
            return false;
    return true;
}

void registerTrendTypes()
{
    qRegisterMetaType<TrendRequest>("TrendRequest");
    qRegisterMetaType<TrendReduction>("TrendReduction");
}

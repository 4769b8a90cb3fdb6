// The two instruments one simulator plays.
#pragma once

#include <QByteArray>

enum class SimRole
{
    Measure,
    Switch
};

inline QByteArray roleName(SimRole role)
{
    return role == SimRole::Measure ? QByteArrayLiteral("measure") : QByteArrayLiteral("switch");
}

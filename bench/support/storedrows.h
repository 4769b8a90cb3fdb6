// The rows the day files of a data set hold, counted over every batch table they list.
#pragma once

#include <QString>

long storedRows(const QString &dataDir);

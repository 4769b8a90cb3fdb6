#include "exportresult.h"

void registerExportResultMetaType()
{
    qRegisterMetaType<ExportResult>("ExportResult");
}

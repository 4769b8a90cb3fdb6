#include "dbtypes.h"

void registerStoreMetaTypes()
{
    qRegisterMetaType<DBBatchInfo>("DBBatchInfo");
    qRegisterMetaType<DBCurveMetadata>("DBCurveMetadata");
    qRegisterMetaType<QSharedPointer<QSqlDatabase>>("QSharedPointer<QSqlDatabase>");
}

#include "searchd/OpenServiceIndex.h"

#include "searchd/index/postgres/PostgresIndex.h"
#include "searchd/index/sqlite/SqliteIndex.h"

std::unique_ptr<ServiceIndex> openServiceIndex(const IndexSettings& settings) {
    if (!settings.postgresUrl.isEmpty())
        return std::make_unique<PostgresIndex>(settings);
    return std::make_unique<SqliteIndex>(settings.sqliteFile);
}

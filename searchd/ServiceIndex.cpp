#include "searchd/ServiceIndex.h"

#include "searchd/PostgresIndex.h"
#include "searchd/SqliteIndex.h"

std::unique_ptr<ServiceIndex> openServiceIndex(const IndexSettings& settings) {
    if (!settings.postgresUrl.isEmpty())
        return std::make_unique<PostgresIndex>(settings);
    return std::make_unique<SqliteIndex>(settings.sqliteFile);
}

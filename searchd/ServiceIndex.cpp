#include "searchd/ServiceIndex.h"

#include "searchd/SqliteIndex.h"

std::unique_ptr<ServiceIndex> openServiceIndex(const IndexSettings& settings) {
    return std::make_unique<SqliteIndex>(settings.sqliteFile);
}

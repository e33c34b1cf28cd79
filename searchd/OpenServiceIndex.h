#pragma once

#include "searchd/index/ServiceIndex.h"

#include <memory>

// Opens (and creates or upgrades) the index the settings name: PostgreSQL when they give a
// database URL, otherwise SQLite. Kept apart from ServiceIndex so that the engine-neutral
// index does not depend on its engines. Throws ServiceError when the index cannot be used: a
// database that cannot be opened, or one whose schema is newer than this program knows
// ("... has schema version N; this pellmar-searchd knows up to M").
std::unique_ptr<ServiceIndex> openServiceIndex(const IndexSettings& settings);

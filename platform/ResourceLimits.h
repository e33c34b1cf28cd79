#pragma once

// Raises the process's soft limit of open file descriptors to its hard limit, so that many
// simultaneous downloads and probes do not run out of descriptors early. Returns the soft
// limit in force afterwards (-1 when it cannot be read).
long RaiseFileDescriptorLimit();

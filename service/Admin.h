#pragma once

#include "Arguments.h"
#include "Database.h"

// The operator's command line over the same database: invitations, users, devices, releases and the
// stored feedback, diagnostics and check-ins. Returns the exit status.
namespace Admin {
int run(Database& db, const Arguments& args);
void usage();
}

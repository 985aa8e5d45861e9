#pragma once

namespace tevrak {

// The first start of an installed program on a new account: drive C: has no
// claim\db folder at all. Then the workstation's folders and empty tables are
// made (as tevrak-init makes them) and one message says so. A claim\db folder
// that exists is left alone, also with tables missing: the main window's
// start-up reports the missing file, and no single table is ever made anew
// beside others. A failure shows the standard error box and the start-up
// carries on. Returns whether the workstation was made.
bool createWorkstationOnFirstStart();

} // namespace tevrak

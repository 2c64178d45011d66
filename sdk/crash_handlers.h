#pragma once
// Installed at load, restored at unload (Windows only; elsewhere these do
// nothing).
void crash_handlers_install();
void crash_handlers_restore();
bool crash_handlers_installed();

#include "platform/version.h"

// On this system the strings are compiled in from the build's project version.
bool GetVersionStrings(const char** internalName, const char** fileVersion, const char** companyName) {
  *internalName = "TARNSEK";
  *fileVersion = TARNSEK_FILE_VERSION;
  *companyName = TARNSEK_COMPANY_NAME;
  return true;
}

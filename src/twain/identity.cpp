// The application identity by which the extension introduces itself to the DSM.
#include "twain/connection.h"

int16_t DoInitAppIdentity(TwainGlobals* g) {
  constexpr bool pascal = !kWindowsBuild;
  TW_IDENTITY& id = g->appIdentity;
  id.Id = kWindowsBuild ? 0 : 1;
  id.Version.MajorNum = 1;
  id.Version.MinorNum = 0;
  id.Version.Language = 2;
  id.Version.Country = 6;
  tw::PutString(id.Version.Info, sizeof id.Version.Info, kWindowsBuild ? "v1.2" : "v1.2b1", pascal);
  id.ProtocolMajor = 1;
  id.ProtocolMinor = kWindowsBuild ? 8 : 9;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE;
  tw::PutString(id.Manufacturer, sizeof id.Manufacturer, "Brelvont Software", pascal);
  tw::PutString(id.ProductFamily, sizeof id.ProductFamily, "Kardivelle", pascal);
  tw::PutString(id.ProductName, sizeof id.ProductName, "Kardivelle extension", pascal);
  return 0;
}

// The application identity by which the extension introduces itself to the DSM.
#include "twain/connection.h"
#include "twain/dsm_platform.h"

// To TWAINDSM.DLL a TWAIN 2.4 application (DF_APP2); to every other manager the TWAIN 1.x
// application it has always been. Set afresh before each MSG_OPENDSM, which may have set
// DF_DSM2 the time before.
void PresentIdentity(TwainGlobals* g) {
  TW_IDENTITY& id = g->appIdentity;
  // Windows: the manager gives the Id at each MSG_OPENDSM. One left from an earlier opening
  // may be another application's by now (a manager loaded again counts from 1 afresh), and the
  // TWAIN 2 manager takes an Id it knows for that application's second opening.
  if constexpr (kWindowsBuild) id.Id = 0;
  const bool twain2 = platform::Bound() == BoundManager::kTwainDsm;
  id.ProtocolMajor = twain2 ? 2 : 1;
  id.ProtocolMinor = twain2 ? 4 : kWindowsBuild ? 8 : 9;
  id.SupportedGroups = DG_CONTROL | DG_IMAGE | (twain2 ? DF_APP2 : 0);
}

bool SpeaksTwain2(const TwainGlobals* g) {
  constexpr TW_UINT32 both = DF_APP2 | DF_DSM2;
  return g->dsmOpen && (g->appIdentity.SupportedGroups & both) == both;
}

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

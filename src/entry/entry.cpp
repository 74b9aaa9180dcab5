#include "entry/entry.h"

void RouteMessage(int16_t message, void** slot, HostContext ctx, void* window) {
  if (!slot) return;
  switch (message) {
    case kMsgConstruct:
      ConstructInstance(slot, ctx);
      break;
    case kMsgExecute:
      if (TwainGlobals* g = LiveRecord(*slot)) ExecuteFunction(g, ctx, window);
      break;
    case kMsgDestruct:
      DestructInstance(slot, ctx);
      break;
    case kMsgDescribe:
      DescribeFunction(ctx);
      break;
    case kMsgDesignFlag:
      SetDesignFlag(ctx);
      break;
    default:
      break;
  }
}

#include "OVLLibCore/OVLConnectionHandlerPrototype.h"

namespace OVL {

OVLConnectionHandlerPrototype::~OVLConnectionHandlerPrototype() = default;

void OVLConnectionHandlerPrototype::onError(const OVLRequestErrorData&) {}
void OVLConnectionHandlerPrototype::onConnected(const eid_t&) {}
void OVLConnectionHandlerPrototype::onDisconnected(const OVLRequestErrorData&) {}

}  // namespace OVL

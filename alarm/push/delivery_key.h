// The key of one message taken from the broker: a fingerprint of its topic and payload bytes. A
// message the broker sends again (QoS 1 redelivery after an outage) has the same key, so the
// store can tell that it took it already.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rovik::alarm {

// 16 lower-case hex digits (64-bit FNV-1a over the topic, a separator byte and the payload).
std::string DeliveryKey(std::string_view topic, const void* payload, std::size_t length);

}  // namespace rovik::alarm

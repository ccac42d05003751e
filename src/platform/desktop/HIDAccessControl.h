#pragma once

// Control surface of the HID access requests, for tests and the demo. Requests are counted
// by InputEventsControl::listenEventAccessRequests().
namespace tarpelix::platform::HIDAccessControl {

// Whether a listen-event request grants the access at once, as a user who allows it at once
// (default no: the request leaves the access as it is). Reset brings back the default.
void setRequestGrantsAccess(bool grants);

} // namespace tarpelix::platform::HIDAccessControl

// What the service and the scale driver agree on besides the member names:
// the ProgID the driver is created by and the size of its hot-key table.
// The service knows the driver by these alone; it builds without the driver.
#ifndef TARVO_SCALEDRIVER_DRIVER_INTERFACE_H_
#define TARVO_SCALEDRIVER_DRIVER_INTERFACE_H_

namespace tarvo {

// The ProgID of the scale driver component.
inline constexpr char kScaleDriverProgId[] = "TarvoDriver.TarvoOLEDriver";

// Hot keys are numbered 1 to kHotKeyCount; a scale's table holds them all.
inline constexpr int kHotKeyCount = 224;

}  // namespace tarvo

#endif  // TARVO_SCALEDRIVER_DRIVER_INTERFACE_H_

// Replaced by the SDK layer's sources.
namespace tavio_rtcsdk_placeholder {
int unused() { return 0; }
}

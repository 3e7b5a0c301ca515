// Anchor unit of the OS backend library; the per-facility backend files sit beside it.
namespace platform::os {
int backend_anchor() { return 0; }
}  // namespace platform::os

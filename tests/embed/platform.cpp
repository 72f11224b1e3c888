// The application's own platform layer, under the name the library's might have had.
namespace platform {
int start() { return 0; }
}  // namespace platform

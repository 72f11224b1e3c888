// The baseline: a client on bare POSIX sockets that puts the same bytes on the wire as
// the library for each benchmarked operation, with the same sends, the same receives and
// the same receive sizes (2 bytes for a strict acknowledgement, 1024 for anything else),
// and does nothing else. Whatever the library costs beyond it is the library's overhead.
#ifndef BENCH_BARE_CLIENT_H
#define BENCH_BARE_CLIENT_H

#include <string>
#include <vector>

class BareClient {
 public:
  BareClient() = default;
  ~BareClient();
  BareClient(const BareClient&) = delete;
  BareClient& operator=(const BareClient&) = delete;

  // Connects to 127.0.0.1:`port` with TCP_NODELAY and introduces itself as `name`.
  bool connect(const char* name, int port = 4001);
  // Command 9999 with its final read, then shutdown and close. True when it was answered.
  bool disconnect();
  // Commands 4 (two strings, the ten preset values, the query) and 33: what the library
  // sends to be granted both flags. True when both were granted.
  bool grantFlags(const char* first, const char* second);

  // Each returns the broker's final integer, or a negative code as the library does.
  int sendInt(int command, int value);  // e.g. Send(5, 7)
  int jtagShift(int shiftControl, int bitCount, const unsigned char* shiftData,
                const unsigned char* bufferA);  // Send(44, 12, sc, bits, 1, 0, data, A)
  int genericShift(int shiftControl, int bitCount, int readBack,
                   const unsigned char* shiftData);  // Send(19, ...)
  int pump(const unsigned char* shiftData, int bitCount, int middle,
           int readBack);  // Send(42, ...)
  // A request token and the ";"-separated answer, appended to `items`.
  int readList(std::vector<std::string>& items);

  // The bytes the last shift read back.
  const std::vector<unsigned char>& readBack() const { return readBack_; }

 private:
  bool sendBytes(const void* data, int length);
  bool sendToken(const char* text);
  bool sendIntToken(int value);
  bool strictAck();
  int looseReply();
  bool command(int number);
  int finalRead();
  int multiBlockReadBack(long bytes);
  // What the generic shift and the pump share after their header: the data, single block
  // with one reply that is also the read-back, or acknowledged blocks and their read-back.
  int dataPhase(const unsigned char* shiftData, long bytes, int readBack);

  int fd_ = -1;
  char buffer_[1025];
  char reply_[1024];
  std::vector<unsigned char> readBack_;
};

#endif  // BENCH_BARE_CLIENT_H

// Preloaded into the benchmark's processes by the hostile tests: records the
// barriers a process enters and every message it sends or receives, and
// writes them to "<QUENDA_TRACE_DIR>/rank-<rank>.trace" when the process
// finalises MPI. One line per event:
//   barrier
//   send <destination> <count> <tag>
//   recv <source> <count> <tag>
#include <mpi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string>& events() {
  static std::vector<std::string> recorded;
  return recorded;
}

void record(const char* kind, int peer, int count, int tag) {
  events().push_back(std::string(kind) + " " + std::to_string(peer) + " " + std::to_string(count) +
                     " " + std::to_string(tag));
}

}  // namespace

extern "C" int MPI_Barrier(MPI_Comm comm) {
  events().emplace_back("barrier");
  return PMPI_Barrier(comm);
}

extern "C" int MPI_Send(const void* buffer, int count, MPI_Datatype type, int destination, int tag,
                        MPI_Comm comm) {
  record("send", destination, count, tag);
  return PMPI_Send(buffer, count, type, destination, tag, comm);
}

extern "C" int MPI_Recv(void* buffer, int count, MPI_Datatype type, int source, int tag,
                        MPI_Comm comm, MPI_Status* status) {
  record("recv", source, count, tag);
  return PMPI_Recv(buffer, count, type, source, tag, comm, status);
}

extern "C" int MPI_Finalize() {
  const char* directory = std::getenv("QUENDA_TRACE_DIR");
  int rank = -1;
  PMPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if (directory != nullptr) {
    const std::string name = std::string(directory) + "/rank-" + std::to_string(rank) + ".trace";
    if (std::FILE* out = std::fopen(name.c_str(), "w")) {
      for (const std::string& event : events()) std::fprintf(out, "%s\n", event.c_str());
      std::fclose(out);
    }
  }
  return PMPI_Finalize();
}

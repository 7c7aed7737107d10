#include "engine/engine.h"

namespace qm::engine {

Engine::Engine(Host& host) : host_(host) {}

// Not built yet: the replication comes with the engine work.
void Engine::RunBatch() {}
bool Engine::NextBatchEntry() { return false; }
void Engine::RunBatchEntry() {}
void Engine::SyncDirectory(bool) {}
void Engine::ListDirectoryTree(const std::string&) {}
void Engine::ListDirectoryLevel(const std::string&) {}
void Engine::WriteSyncLog(const std::string&) {}

}  // namespace qm::engine

// DownloadFile and UploadFile: HTTP/1.1 and passive FTP over the network
// library's connections, into a string or a file.
#pragma once

struct ScriptState;

// Action values of the progress callback.
constexpr int kDownloadFileStatus = 0;
constexpr int kUploadFileResponse = 1;

int cmdDownloadFile(ScriptState* L);
int cmdUploadFile(ScriptState* L);
// Installs the engine's progress callback into the receive and send engines.
void InitTransferEngine();

#pragma once
// Placeholder: the connect-server connection. Being written in the connect-server work; the
// declaration below is the interface the rest of the launcher may rely on meanwhile.

class CClientSocket {
public:
    void Close();
};

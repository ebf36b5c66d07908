# A pyftpdlib server on 127.0.0.1 serving the folder given, for the transfer
# tests: "user"/"secret" may write, "reader"/"secret" and anonymous may only
# read. Prints "port N" once it listens.
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

logging.basicConfig(level=logging.CRITICAL)
authorizer = DummyAuthorizer()
authorizer.add_user("user", "secret", sys.argv[1], perm="elradfmw")
authorizer.add_user("reader", "secret", sys.argv[1], perm="elr")
authorizer.add_anonymous(sys.argv[1])
FTPHandler.authorizer = authorizer
# A wrong password is answered at once, not after the usual pause.
FTPHandler.auth_failed_timeout = 0.05
server = FTPServer(("127.0.0.1", 0), FTPHandler)
print("port", server.address[1], flush=True)
server.serve_forever()

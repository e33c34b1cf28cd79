#!/usr/bin/python3
# An FTP server that needs a login, for the relay's tests: on 127.0.0.1:PORT the user USER
# with PASSWORD may list and fetch FOLDER; anonymous users and other passwords are refused.
import os
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

port, folder, user, password = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4]
sys.stderr = open(os.devnull, "w")  # nobody reads its log
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, folder, perm="elr")
FTPHandler.authorizer = authorizer
FTPHandler.banner = "login only"
server = FTPServer(("127.0.0.1", port), FTPHandler)
server.serve_forever()

"""vyra-server: a scriptable provisioning server for tests and demos of the vyra client.

It plays the server side of MMC sessions from scenario files, checks what the client
posts back, writes a transcript of every request and ends with a verdict. It is a test and
demo tool, not a provisioning server for real handsets.
"""

VERSION = "0.1.0"

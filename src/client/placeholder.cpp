// The client library's sources live in this folder.

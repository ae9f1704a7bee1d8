// Event queue over epoll: implementation to come.

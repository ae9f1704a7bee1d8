// ZRSocket: implementation to come.

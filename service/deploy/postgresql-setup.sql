-- The Kelvora answer service's database on PostgreSQL 15 (Debian's postgresql-15).
-- Run once as the database superuser: sudo -u postgres psql -f postgresql-setup.sql
-- Give the role a password first: sudo -u postgres psql -c "\password kelvora"
-- (the role is made here without one, so that no password is written in a file).
CREATE ROLE kelvora LOGIN;
-- UTF-8, whatever the cluster's default: normal forms are Chinese text, and
-- the service reads and writes UTF-8. template0, since template1 may hold another encoding.
CREATE DATABASE kelvora OWNER kelvora ENCODING 'UTF8' LC_COLLATE 'C.UTF-8' LC_CTYPE 'C.UTF-8' TEMPLATE template0;
\connect kelvora
-- The service creates its tables on its first start (as the owner, kelvora).
-- Matching runs in the instances on their copy of the bank, so the service
-- needs no extension. pg_trgm is handy for an operator's own similarity
-- queries over the bank, and needs a UTF-8 database to find trigrams in Chinese text:
CREATE EXTENSION IF NOT EXISTS pg_trgm;

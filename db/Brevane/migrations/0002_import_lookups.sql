-- The product import asks, for every product it files, for the last
-- sequence number of the product's category (MAX(SEQUENCE) ... WHERE
-- CATEGORYID = ?): an index on both columns answers that from the index
-- alone instead of visiting every product of the category. It covers what
-- the index on CATEGORYID alone did.
CREATE INDEX PRODUCTSBYCATEGORY_CATEGORY_SEQUENCE ON PRODUCTSBYCATEGORY (CATEGORYID, SEQUENCE);
DROP INDEX PRODUCTSBYCATEGORY_CATEGORYID;

